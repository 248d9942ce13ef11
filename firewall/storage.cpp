#include "firewall/storage.h"

#include <cstdlib>
#include <unistd.h>

namespace firewall {

Storage Storage::fromEnvironment()
{
    const char *fromEnv = std::getenv(kDirVariable);
    if (fromEnv == nullptr || *fromEnv == '\0')
        return Storage(kDefaultDir);
    std::string path = fromEnv;
    if (path.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
            path = std::string(cwd) + (cwd[1] == '\0' ? "" : "/") + path;
    }
    if (path.back() != '/')
        path += '/';
    if (*fromEnv != '/')
        ::setenv(kDirVariable, path.c_str(), 1);
    return Storage(path);
}

} // namespace firewall
