#pragma once

#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace control {

// Every shell command the window runs, built from the program directory (ending in "/", or
// empty) and the storage directory (ending in "/"). Both are bytes in the file-system
// encoding; each is shell-quoted only where it needs it (see shellQuote). The process probe
// sees only the processes of `owner`.
class Commands
{
public:
    Commands(std::string programDir, std::string storageDir, uid_t owner = ::getuid());

    // The program directory of a program invoked as `invocation` (its argv[0]): up to and
    // including the last "/", or empty.
    static std::string programDirOf(const std::string &invocation);

    std::string deployExecutable() const; // cp %1blacklist <storage>.blacklist
    std::string deploySettings() const; // cp %1Callvane.cfg <storage>.Callvane.cfg
    std::string settingsFile() const; // %1Callvane.cfg
    std::string deployedSettingsFile() const; // <storage>.Callvane.cfg
    std::string daemonLockFile() const; // <storage>.blacklist.lock, its holder's pid first
    std::string daemonStart() const; // exec <storage>.blacklist&
    std::string daemonStop() const; // busybox killall .blacklist

    // rm, rm (the undotted names), then deploy executable and settings.
    std::vector<std::string> startup() const;
    std::vector<std::string> switchOn() const;
    std::vector<std::string> switchOff() const;
    std::vector<std::string> restart() const;

    // `sequence` (a switch-on or a restart) as one script, one command a line, in which the
    // daemon start is run only where the settings deploy copied the file, or found none to copy
    // and a deployed copy there; else the daemon stop is. Its status is 0 when it started.
    std::string startScript(const std::vector<std::string> &sequence) const;

    // Leaves the running commands that match ".blacklist" in probeFile(), one per line.
    std::vector<std::string> probe() const;
    std::string removeProbeFile() const;
    std::string probeFile() const;
    // The probe line that names this storage's deployed daemon.
    std::string daemonMark() const;

    std::string listLanguages() const; // ls %1/languages/ > %1/ltemp

    std::string removeLanguageList() const;
    std::string languageListFile() const;

    // Whether `line`, said on stderr by `command`, is what the command says on a healthy
    // set-up: an rm of a file that is not there, a stop when no daemon runs.
    static bool isExpectedNoise(const std::string &command, std::string_view line);

private:
    std::string m_programDir;
    std::string m_storageDir;
    std::string m_quotedProgramDir;
    std::string m_quotedStorageDir;
    uid_t m_owner;
};

// Quotes a word for the shell when it holds anything outside A-Za-z0-9_@%+=:,./- , so that
// ordinary paths stay byte-identical and no path can break or extend a command.
std::string shellQuote(const std::string &word);

} // namespace control
