#pragma once

#include <string>
#include <string_view>

namespace firewall {

// A caller's ID as the daemon takes it from a call, made once where the call arrives (its
// socket, the telephony service) and seen alike by the rule, the register and the notice: cut
// to kMaxLength bytes at a character's boundary and made one line that shows what it holds:
// each control character, line or paragraph separator, invisible format character and byte
// that is not UTF-8 becomes U+FFFD. "" and kUnknown are a withheld caller.
class CallerId
{
public:
    // No phone number is longer, and the rule's cost grows with length.
    static constexpr size_t kMaxLength = 128;
    // A withheld caller as the register writes it.
    static constexpr char kUnknown[] = "unknown";

    CallerId() = default; // withheld
    explicit CallerId(std::string_view raw);

    bool withheld() const { return m_number.empty(); }
    // Empty when withheld.
    const std::string &number() const { return m_number; }
    // As the register has it: the number, or kUnknown.
    std::string logged() const;

private:
    std::string m_number;
};

} // namespace firewall
