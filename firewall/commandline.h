#pragma once

#include <optional>

// The options every Callvane program takes. --help prints `usage` and --version the name and
// version, each on stdout, and the program ends with 0 before doing anything else; any other
// option (a word starting with '-', up to a lone "--") is an error, said on stderr with a
// hint, and ends it with 2. Otherwise the index of the first operand is returned.
namespace firewall::commandline {

struct Result
{
    int firstOperand = 1;
    std::optional<int> exitStatus; // set: end the program with it
};

Result parse(int argc, char **argv, const char *name, const char *usage);

} // namespace firewall::commandline
