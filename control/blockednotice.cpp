#include "control/blockednotice.h"

#include "control/atomicfile.h"
#include "control/callscreen.h"
#include "control/inidocument.h"
#include "control/textkeys.h"

#include <cstdlib>

namespace control {

BlockedNotice::BlockedNotice(const std::string &languageFile)
{
    std::string text;
    if (!readFile(languageFile, text))
        return;
    const IniDocument document = IniDocument::parse(std::move(text));
    const auto take = [&document](const char *key, std::string &into) {
        if (std::optional<std::string> value = document.value(text::kGroup, key); value && !value->empty())
            into = std::move(*value);
    };
    take(text::kNoticeBlocked, m_blocked);
    take(text::kUnknownNumber, m_withheld);
}

BlockedNotice BlockedNotice::ofLanguage(const std::string &language)
{
    const char *dir = std::getenv(kLanguagesVariable);
    if (dir == nullptr || *dir == '\0' || language.empty() || language == "." || language == ".."
        || language.find('/') != std::string::npos)
        return {};
    return BlockedNotice(std::string(dir) + "/" + language);
}

std::string BlockedNotice::summary(std::string_view number) const
{
    const std::string caller(CallScreen::isUnknownCaller(number) ? std::string_view(m_withheld) : number);
    std::string text = m_blocked;
    if (const auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, caller);
    else
        text += " " + caller;
    return text;
}

} // namespace control
