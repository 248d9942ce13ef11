#pragma once

#include "settingsstore/settingsstore.h"

#include <QString>

// The platform's INI reader and writer, on control's settings store: UTF-8, every write
// reaches the disk (atomically) before writeEntry() returns, a missing file reads as empty.
class ZConfig
{
public:
    // `writable` false: writeEntry() refuses.
    ZConfig(const QString &path, bool writable);

    QString readEntry(const QString &group, const QString &key, const QString &fallback = QString());
    bool writeEntry(const QString &group, const QString &key, const QString &value);

private:
    control::SettingsStore m_store;
    bool m_writable;
};
