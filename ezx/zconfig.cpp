#include "ezx/zconfig.h"

#include <QFile>

namespace {
std::string utf8(const QString &s)
{
    return s.toStdString();
}
} // namespace

ZConfig::ZConfig(const QString &path, bool /*writable*/)
    : m_store(QFile::encodeName(path).toStdString())
{
}

QString ZConfig::readEntry(const QString &group, const QString &key, const QString &fallback)
{
    const auto value = m_store.value(utf8(group), utf8(key));
    return value ? QString::fromStdString(*value) : fallback;
}
