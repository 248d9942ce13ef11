// Any log: an append keeps every entry before it and adds exactly the one entry; a rewrite
// reads back as the entries it was given.
#include "firewall/blockedcalllog.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace calllog = firewall::calllog;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string log(reinterpret_cast<const char *>(data), size);
    std::vector<calllog::Entry> entries = calllog::parse(log);

    if (calllog::parse(calllog::format(entries)) != entries)
        std::abort();

    const calllog::Entry added{"600112233", "2026-12-08 10:00:00"};
    const std::vector<calllog::Entry> after = calllog::parse(log + calllog::appendText(log, added));
    entries.push_back(added);
    if (after != entries)
        std::abort();
    return 0;
}
