#include "storage.h"

#include <cstdlib>

namespace control::storage {

std::string dir()
{
    const char *fromEnv = std::getenv(kDirVariable);
    if (fromEnv == nullptr || *fromEnv == '\0')
        return kDefaultDir;
    std::string path = fromEnv;
    if (path.back() != '/')
        path += '/';
    return path;
}

} // namespace control::storage
