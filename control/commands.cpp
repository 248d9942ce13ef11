#include "commands.h"

#include "shell.h"

namespace control {

Commands::Commands(std::string programDir, std::string storageDir)
    : m_programDir(std::move(programDir))
    , m_storageDir(std::move(storageDir))
    , m_quotedProgramDir(shellQuote(m_programDir))
    , m_quotedStorageDir(shellQuote(m_storageDir))
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

std::vector<std::string> Commands::probe() const
{
    // Debian's procps: "ps" alone lists only this terminal's processes, so list all of them,
    // whole: a storage path may hold blanks. The daemon runs without arguments, so its line
    // ends in ".blacklist"; the anchor also keeps out this sed's own line and a shell's
    // "exec ....blacklist&".
    return {
        removeProbeFile(),
        "touch " + m_quotedProgramDir + "/state",
        "ps -e -o args= | sed -n -e '/.blacklist$/p' >> " + m_quotedProgramDir + "/state",
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
    return m_storageDir + ".blacklist";
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

bool Commands::isExpectedNoise(const std::string &command, const std::string &line)
{
    const auto endsWith = [&line](const std::string &tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (command.compare(0, 3, "rm ") == 0)
        return line.compare(0, 4, "rm: ") == 0 && endsWith(": No such file or directory");
    return command == "busybox killall .blacklist" && line == "killall: .blacklist: no process killed";
}

} // namespace control
