#include "tests/testfiles.h"

#include <QFile>
#include <QTemporaryFile>
#include <QtGlobal>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace testfiles {

namespace {

QByteArray checkedIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test file %s", qPrintable(path));
    return file.readAll();
}

} // namespace

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray saidOnStderr(const std::function<void()> &action)
{
    QTemporaryFile said;
    if (!said.open())
        qFatal("cannot make a file for stderr");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(said.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return readFile(said.fileName());
}

void useAsRuntimeDir(const QString &dir)
{
    if (!QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qFatal("cannot make %s private", qPrintable(dir));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
}

QString fixturePath(const QString &name)
{
    return QStringLiteral(CALLVANE_FIXTURES "/") + name;
}

QByteArray fixture(const QString &name)
{
    return checkedIn(fixturePath(name));
}

QByteArray golden(const QString &name)
{
    return checkedIn(QStringLiteral(CALLVANE_GOLDEN "/") + name);
}

} // namespace testfiles

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    ::signal(SIGXFSZ, SIG_IGN); // a write beyond the limit fails instead
    const rlimit limit{bytes, m_saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
}
