#include "control/hugepages.h"

#include "control/atomicfile.h"

#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace control::hugepages {

namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES";
constexpr char kHugePages[] = "glibc.malloc.hugetlb=1";
// Set for the program started again: "=" and the tunables the starter gave, or empty for none.
constexpr char kStartedWith[] = "CALLVANE_STARTED_WITH_TUNABLES";

void putBack(const std::string &startedWith)
{
    if (startedWith.empty())
        ::unsetenv(kTunables);
    else
        ::setenv(kTunables, startedWith.c_str() + 1, 1);
    ::unsetenv(kStartedWith);
}

off_t sizeOf(const std::vector<std::string> &files)
{
    off_t size = 0;
    for (const std::string &file : files) {
        struct stat st = {};
        size += ::stat(file.c_str(), &st) == 0 ? st.st_size : 0;
    }
    return size;
}

bool kernelOffersThem()
{
    std::string mode;
    return readFile("/sys/kernel/mm/transparent_hugepage/enabled", mode) && mode.find("[never]") == std::string::npos;
}

} // namespace

void restartWithThem(char **argv, const std::vector<std::string> &files)
{
    if (const char *startedWith = std::getenv(kStartedWith)) {
        putBack(startedWith);
        // An exec of /proc/self/exe names the process "exe"; ps and pgrep go by the name.
        const std::string name = argv[0] != nullptr ? argv[0] : "";
        ::prctl(PR_SET_NAME, name.substr(name.rfind('/') + 1).c_str());
        return;
    }
    const char *tunables = std::getenv(kTunables);
    const std::string given = tunables != nullptr ? tunables : "";
    if (given.find("glibc.malloc.hugetlb=") != std::string::npos || sizeOf(files) < kWorthFrom || !kernelOffersThem())
        return;
    const std::string startedWith = tunables != nullptr ? "=" + given : std::string();
    ::setenv(kStartedWith, startedWith.c_str(), 1);
    ::setenv(kTunables, given.empty() ? kHugePages : (given + ":" + kHugePages).c_str(), 1);
    ::execv("/proc/self/exe", argv);
    putBack(startedWith);
}

} // namespace control::hugepages
