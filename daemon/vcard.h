#pragma once

#include <string>
#include <string_view>
#include <vector>

// The telephone numbers of vCards (2.1, 3.0 and 4.0; one file may hold several): the value of
// each TEL property, with or without a group ("item1.TEL") or parameters, unfolded, a
// "tel:" URI read as its number (its parameters, as ";ext=", left off). Property names are
// read in any case. A value that ends in "*" is left out: it is no number, and it would read
// as a list's wildcard.
namespace control::vcard {

std::vector<std::string> telephoneNumbers(std::string_view text);

} // namespace control::vcard
