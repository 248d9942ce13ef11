#pragma once

#include "settingsstore/settingsstore.h"

#include <QString>

// The platform's INI reader, on control's settings store: UTF-8, a missing file reads as
// empty. The window writes its settings through the store itself.
class ZConfig
{
public:
    // The platform's `writable` flag; the window opens every file read-only.
    ZConfig(const QString &path, bool writable);

    QString readEntry(const QString &group, const QString &key, const QString &fallback = QString());

private:
    settingsstore::SettingsStore m_store;
};
