#include "firewall/blockednotice.h"

#include "firewall/callerid.h"
#include "firewall/textkeys.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/inidocument.h"

#include <cstdlib>

namespace firewall {

BlockedNotice::BlockedNotice(const std::string &languageFile)
{
    std::string text;
    if (!settingsstore::readFile(languageFile, text))
        return;
    const settingsstore::IniDocument document = settingsstore::IniDocument::parse(text);
    const auto take = [&document](const char *key, std::string &into) {
        if (std::optional<std::string> value = document.value(text::kGroup, key); value && !value->empty())
            into = std::move(*value);
    };
    take(text::kNoticeBlocked, m_blocked);
    take(text::kUnknownNumber, m_withheld);
    take(text::kNoticeSuspended, m_suspended);
}

BlockedNotice BlockedNotice::ofLanguage(const std::string &languagesDir, const std::string &language)
{
    if (languagesDir.empty() || language.empty() || language == "." || language == ".."
        || language.find('/') != std::string::npos)
        return {};
    return BlockedNotice(languagesDir + "/" + language);
}

namespace {

std::string filledIn(std::string text, const std::string &value)
{
    if (const auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, value);
    else
        text += " " + value;
    return text;
}

} // namespace

std::string BlockedNotice::summary(const CallerId &caller) const
{
    return filledIn(m_blocked, caller.withheld() ? m_withheld : caller.number());
}

std::string BlockedNotice::suspended(const std::string &until) const
{
    return filledIn(m_suspended, until);
}

} // namespace firewall
