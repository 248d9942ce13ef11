#pragma once

// The language files: one INI file per language, every text in group "CALLVANE".
namespace firewall::text {

inline constexpr char kGroup[] = "CALLVANE";

inline constexpr char kMenuMenu[] = "MENU_MENU";
inline constexpr char kMenuSelect[] = "MENU_SELECT";
inline constexpr char kMenuCancel[] = "MENU_CANCEL";
inline constexpr char kMenuExit[] = "MENU_EXIT";
inline constexpr char kMenuAbout[] = "MENU_ABOUT";
inline constexpr char kMenuLang[] = "MENU_LANG";
inline constexpr char kMenuAdd[] = "MENU_ADD";
inline constexpr char kMenuDelete[] = "MENU_DELETE";
inline constexpr char kMainState[] = "MAIN_STATE";
inline constexpr char kMainList[] = "MAIN_LIST";
inline constexpr char kMenuUnknown[] = "MENU_UNKNOWN";
inline constexpr char kOptionsEnabled[] = "OPTIONS_ENABLED";
inline constexpr char kOptionsDisabled[] = "OPTIONS_DISABLED";
inline constexpr char kOptionsEnable[] = "OPTIONS_ENABLE";
inline constexpr char kOptionsDisable[] = "OPTIONS_DISABLE";
inline constexpr char kMainBlack[] = "MAIN_BLACK";
inline constexpr char kMainWhite[] = "MAIN_WHITE";
// Beyond the phone's keys: the register tab's name, which a screen reader says.
inline constexpr char kMainRegister[] = "MAIN_REGISTER";
inline constexpr char kUnknownNumber[] = "UNKNOWN_NUMBER";
inline constexpr char kMainAdd[] = "MAIN_ADD";
inline constexpr char kMenuLanguage[] = "MENU_LANGUAGE";
inline constexpr char kLangName[] = "LANG_NAME";
// The daemon's desktop notice of a blocked call; "%1" is the caller.
inline constexpr char kNoticeBlocked[] = "NOTICE_BLOCKED";
// Its notice that, after an emergency call, no call is blocked; "%1" is the time it ends.
inline constexpr char kNoticeSuspended[] = "NOTICE_SUSPENDED";
inline constexpr const char *kAllKeys[] = {
    kMenuMenu,        kMenuSelect,    kMenuCancel,     kMenuExit,  kMenuAbout,     kMenuLang,
    kMenuAdd,         kMenuDelete,    kMainState,      kMainList,  kMenuUnknown,   kOptionsEnabled,
    kOptionsDisabled, kOptionsEnable, kOptionsDisable, kMainBlack, kMainWhite,     kMainRegister,
    kUnknownNumber,   kMainAdd,       kMenuLanguage,   kLangName,  kNoticeBlocked, kNoticeSuspended,
};

} // namespace firewall::text
