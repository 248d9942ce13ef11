#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <sys/resource.h>

// The files a test lays out and reads back, and the checked-in ones under tests/fixtures and
// tests/golden. A file a test cannot lay out, or a checked-in one that is missing, ends the
// run: the test would test nothing.
namespace testfiles {

void writeFile(const QString &path, const QByteArray &content);
// "<missing>" when it cannot be read, so a comparison names the fault.
QByteArray readFile(const QString &path);

// Makes `dir` the owner's alone and the XDG_RUNTIME_DIR of this process and what it starts
// (display servers and buses keep their sockets there).
void useAsRuntimeDir(const QString &dir);

// What `action` writes to this process's stderr, its commands' included.
QByteArray saidOnStderr(const std::function<void()> &action);

QString fixturePath(const QString &name);
QByteArray fixture(const QString &name);
QByteArray golden(const QString &name);

} // namespace testfiles

// While it lives, no file of this process (or of the commands it runs) grows beyond `bytes`:
// every save of a larger file fails, also root's.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved{};
};
