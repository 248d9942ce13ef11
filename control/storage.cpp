#include "control/storage.h"

#include <cstdlib>
#include <unistd.h>

namespace control::storage {

std::string dir()
{
    const char *fromEnv = std::getenv(kDirVariable);
    if (fromEnv == nullptr || *fromEnv == '\0')
        return kDefaultDir;
    std::string path = fromEnv;
    if (path.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
            path = std::string(cwd) + (cwd[1] == '\0' ? "" : "/") + path;
    }
    if (path.back() != '/')
        path += '/';
    return path;
}

void resolve()
{
    const char *fromEnv = std::getenv(kDirVariable);
    if (fromEnv != nullptr && *fromEnv != '\0' && *fromEnv != '/')
        ::setenv(kDirVariable, dir().c_str(), 1);
}

} // namespace control::storage
