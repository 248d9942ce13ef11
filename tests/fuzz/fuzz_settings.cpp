// Any text: a save that sets nothing gives it back byte for byte; a value set reads back, and
// every other entry keeps its value.
#include "settingsstore/inidocument.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    settingsstore::IniDocument doc = settingsstore::IniDocument::parse(std::string(text));
    if (doc.serialize() != text)
        std::abort();

    const auto before = doc.value("Callvane", "Language");
    const std::string value(text.substr(0, 64));
    doc.setValue("Blacklist", "Num", value);
    const settingsstore::IniDocument reread = settingsstore::IniDocument::parse(doc.serialize());
    if (reread.value("Blacklist", "Num") != value || reread.value("Callvane", "Language") != before)
        std::abort();
    return 0;
}
