#pragma once

#include "platform/SettingsStore.h"

// The per-user store. On Windows the values stay where earlier versions of the program kept
// them (HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>), so saved
// lists come back. Elsewhere each value is a UTF-8 text file of its own in the user's
// configuration folder, <app>/<section>/<key>.txt (~/.config/Tamberlyn/Orrowdale/Zoom.txt on
// Linux), replaced whole at each store, so that a keystroke's store does not rewrite the saved
// list. Values an earlier version left in the INI file <app>.conf are read from there and moved
// to their files; the INI file is read only for a value that has no file yet. Values of a
// system-wide file are never read.
class QtSettingsStore : public SettingsStore
{
public:
    QString read(const QString& app, const QString& section, const QString& key,
                 const QString& defaultValue) override;
    void store(const QString& app, const QString& section, const QString& key, const QString& value) override;
    QString storeAside(const QString& app, const QString& section, const QString& key,
                       const QString& value) override;

    // The folder or registry key that holds the values of app.
    static QString location(const QString& app);
    // The file or registry key that holds this value.
    static QString location(const QString& app, const QString& section, const QString& key);
    // The INI file or registry key where earlier versions kept the values of app.
    static QString earlierLocation(const QString& app);
};
