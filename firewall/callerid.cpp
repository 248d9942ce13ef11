#include "firewall/callerid.h"

#include "firewall/blockedcalllog.h"

namespace control {

CallerId::CallerId(std::string_view raw)
{
    if (raw == calllog::kUnknownCaller)
        return;
    if (raw.size() > kMaxLength) {
        size_t end = kMaxLength;
        while (end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80)
            --end;
        raw = raw.substr(0, end);
    }
    m_number = calllog::oneLine(raw);
}

std::string CallerId::logged() const
{
    return withheld() ? calllog::kUnknownCaller : m_number;
}

} // namespace control
