#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The telephone numbers of vCards (2.1, 3.0 and 4.0; one file may hold several): the value of
// each TEL property, with or without a group ("item1.TEL") or parameters, unfolded, a
// "tel:" URI read as its number (its parameters, as ";ext=", left off). Property names are
// read in any case. A value that ends in "*" is left out: it is no number, and it would read
// as a list's wildcard.
namespace vcard {

std::vector<std::string> telephoneNumbers(std::string_view text);

// The same, of text given piece by piece (a file as it is read). A logical line longer than
// kMaxLine (a photo, a sound) is passed over without being kept, so that what a reader holds
// stays small whatever the file holds.
class TelephoneReader
{
public:
    static constexpr size_t kMaxLine = 4096;

    void feed(std::string_view piece);
    // The numbers of everything fed.
    std::vector<std::string> finish();

private:
    void endLine();

    std::string m_line; // the logical line so far
    bool m_overlong = false;
    bool m_atLineStart = false; // a physical line ended: the next decides whether it goes on
    std::vector<std::string> m_numbers;
};

} // namespace vcard
