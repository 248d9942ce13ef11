#include "control/commands.h"

#include "firewall/settingskeys.h"
#include "firewall/storage.h"

#include <algorithm>
#include <string_view>

namespace control {

namespace {

constexpr std::string_view kBare = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";

} // namespace

Commands::Commands(std::string programDir, std::string storageDir, uid_t owner)
    : m_programDir(std::move(programDir))
    , m_storageDir(std::move(storageDir))
    , m_quotedProgramDir(shellQuote(m_programDir))
    , m_quotedStorageDir(shellQuote(m_storageDir))
    , m_owner(owner)
{
}

std::string Commands::programDirOf(const std::string &invocation)
{
    const auto slash = invocation.rfind('/');
    return slash == std::string::npos ? std::string() : invocation.substr(0, slash + 1);
}

std::string Commands::deployExecutable() const
{
    return "cp " + m_quotedProgramDir + "blacklist " + m_quotedStorageDir + ".blacklist";
}

std::string Commands::deploySettings() const
{
    return "cp " + m_quotedProgramDir + "Callvane.cfg " + m_quotedStorageDir + ".Callvane.cfg";
}

std::string Commands::settingsFile() const
{
    return m_programDir + firewall::settings::kFileName;
}

std::string Commands::deployedSettingsFile() const
{
    return firewall::Storage(m_storageDir).deployedSettings();
}

std::string Commands::daemonLockFile() const
{
    return firewall::Storage(m_storageDir).daemonLock();
}

std::string Commands::daemonStart() const
{
    return "exec " + m_quotedStorageDir + ".blacklist&";
}

std::string Commands::daemonStop() const
{
    return "busybox killall .blacklist";
}

std::vector<std::string> Commands::startup() const
{
    return {
        "rm " + m_quotedStorageDir + "blacklist",
        "rm " + m_quotedStorageDir + "Callvane.cfg",
        deployExecutable(),
        deploySettings(),
    };
}

std::vector<std::string> Commands::switchOn() const
{
    return {deployExecutable(), deploySettings(), daemonStart()};
}

std::vector<std::string> Commands::switchOff() const
{
    return {daemonStop()};
}

std::vector<std::string> Commands::restart() const
{
    return {daemonStop(), deploySettings(), daemonStart()};
}

std::string Commands::startScript(const std::vector<std::string> &sequence) const
{
    // Outliving the window, its stderr may lead nowhere: no write there may end it.
    std::string script = "trap '' PIPE\n";
    for (const std::string &command : sequence) {
        if (command == deploySettings())
            script += "if " + command + " || { [ ! -e " + shellQuote(settingsFile()) + " ] && [ -e "
                + shellQuote(deployedSettingsFile()) + " ]; }; then deployed=1; else deployed=; fi\n";
        else if (command == daemonStart())
            script += "if [ \"$deployed\" ]; then\n" + command + "\nelse\n" + daemonStop() + "\nfalse\nfi\n";
        else
            script += command + '\n';
    }
    return script;
}

std::vector<std::string> Commands::probe() const
{
    // What ps would print in its command column, but only the user's own processes (another
    // user's daemon, or a forged name, is not ours), only argv[0] (a file argument ending in
    // "blacklist" is no daemon), and bytes intact (ps turns what it cannot print into "?").
    // A newline in argv[0] would split its line: it becomes \001, in the mark too. One awk
    // reads every process's owner and argv[0], its file names from the shell's own printf (no
    // argument list to outgrow): at 570 processes it takes 25 ms, where "ps | sed" takes 40-45
    // and find with awk 60-66. A process gone before awk reads it is passed over (getline,
    // where an input file that cannot be opened would end awk).
    return {
        removeProbeFile(),
        "touch " + m_quotedProgramDir + "/state",
        "printf '%s\\n' /proc/[0-9]*/status | LC_ALL=C awk -v uid=" + std::to_string(m_owner)
            + " '{ c = $0; sub(/status$/, \"cmdline\", c); l = \"\";"
              " while ((getline l < $0) > 0) if (l ~ /^Uid:/) break;"
              " close($0); split(l, id, \"\\t\"); if (id[3] != uid) next;"
              " RS = \"\\0\"; got = getline argv0 < c; RS = \"\\n\"; close(c);"
              " if (got > 0) { gsub(/\\n/, \"\\001\", argv0); if (argv0 ~ /.blacklist$/) print argv0 } }'"
              " 2>/dev/null >> "
            + m_quotedProgramDir + "/state",
    };
}

std::string Commands::removeProbeFile() const
{
    return "rm " + m_quotedProgramDir + "/state";
}

std::string Commands::probeFile() const
{
    return m_programDir + "/state";
}

std::string Commands::daemonMark() const
{
    std::string mark = m_storageDir + ".blacklist";
    std::replace(mark.begin(), mark.end(), '\n', '\001');
    return mark;
}

std::string Commands::listLanguages() const
{
    return "ls " + m_quotedProgramDir + "/languages/ > " + m_quotedProgramDir + "/ltemp";
}

std::string Commands::removeLanguageList() const
{
    return "rm " + m_quotedProgramDir + "/ltemp";
}

std::string Commands::languageListFile() const
{
    return m_programDir + "/ltemp";
}

bool Commands::isExpectedNoise(const std::string &command, std::string_view line)
{
    const auto endsWith = [&line](const std::string &tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (command.compare(0, 3, "rm ") == 0)
        return line.compare(0, 4, "rm: ") == 0 && endsWith(": No such file or directory");
    // A process that ended between killall's listing and its kill (a start's parent that has
    // just detached its daemon) is stopped as a stop wants.
    return command == "busybox killall .blacklist"
        && (line == "killall: .blacklist: no process killed"
            || (line.compare(0, 23, "killall: can't kill pid") == 0 && endsWith(": No such process")));
}

std::string shellQuote(const std::string &word)
{
    if (word.find_first_not_of(kBare) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace control
