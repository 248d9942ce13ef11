// tst_startup's probe of control::hugepages: restartWithThem(argv, FILES...), then three lines:
// the process's name, GLIBC_TUNABLES as it is now, and the THPeligible of the mapping that
// holds a fresh 8 MiB malloc() ("(unset)" for none). (/proc/self/environ cannot tell what the exec was given: glibc
// cuts the tunables there in place as it reads them.)
#include "control/hugepages.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string eligibility(const void *block)
{
    const auto address = reinterpret_cast<unsigned long>(block);
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long begin = 0;
        unsigned long end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2)
            inside = begin <= address && address < end;
        else if (inside && line.rfind("THPeligible:", 0) == 0)
            return std::to_string(std::atoi(line.c_str() + 12));
    }
    return "(unset)";
}

} // namespace

int main(int argc, char **argv)
{
    control::hugepages::restartWithThem(argv, std::vector<std::string>(argv + 1, argv + argc));
    const char *now = std::getenv("GLIBC_TUNABLES");
    void *block = std::malloc(8 << 20);
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    std::printf("%s\n%s\n%s\n", name.c_str(), now != nullptr ? now : "(unset)", eligibility(block).c_str());
    std::free(block);
    return 0;
}
