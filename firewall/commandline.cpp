#include "firewall/commandline.h"
#include "firewall/version.h"

#include <cstdio>
#include <getopt.h>

namespace firewall::commandline {

Result parse(int argc, char **argv, const char *name, const char *usage)
{
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    Result result;
    optind = 1;
    opterr = 0;
    // "+": options only before the first operand, as POSIX has it.
    for (int option = 0; (option = ::getopt_long(argc, argv, "+hV", kOptions, nullptr)) != -1;) {
        switch (option) {
        case 'h':
            std::fputs(usage, stdout);
            result.exitStatus = 0;
            return result;
        case 'V':
            std::printf("%s %s\n", name, CALLVANE_VERSION);
            result.exitStatus = 0;
            return result;
        default:
            if (optopt != 0)
                std::fprintf(stderr, "%s: unknown option '-%c'\n", name, optopt);
            else
                std::fprintf(stderr, "%s: unknown option '%s'\n", name, argv[optind - 1]);
            std::fprintf(stderr, "Try '%s --help'.\n", name);
            result.exitStatus = 2;
            return result;
        }
    }
    result.firstOperand = optind;
    return result;
}

} // namespace firewall::commandline
