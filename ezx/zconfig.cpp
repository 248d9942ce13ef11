#include "zconfig.h"

#include "numberlist.h"

#include <QFile>

namespace {
std::string utf8(const QString &s)
{
    return s.toStdString();
}
} // namespace

ZConfig::ZConfig(const QString &path, bool writable)
    : m_store(QFile::encodeName(path).toStdString())
    , m_writable(writable)
{
}

QString ZConfig::readEntry(const QString &group, const QString &key, const QString &fallback)
{
    const auto value = m_store.value(utf8(group), utf8(key));
    return value ? QString::fromStdString(*value) : fallback;
}

QStringList ZConfig::readListEntry(const QString &group, const QString &key, QChar separator)
{
    const auto value = m_store.value(utf8(group), utf8(key));
    if (!value)
        return {};
    // UTF-8 can be split at an ASCII byte; the lists use ';'.
    Q_ASSERT(separator.unicode() < 0x80);
    const std::vector<std::string_view> entries = control::splitListViews(*value, separator.toLatin1());
    QStringList list;
    list.reserve(static_cast<qsizetype>(entries.size()));
    for (const std::string_view entry : entries)
        list.append(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
    return list;
}

bool ZConfig::writeEntry(const QString &group, const QString &key, const QString &value)
{
    return m_writable && m_store.setValue(utf8(group), utf8(key), utf8(value));
}
