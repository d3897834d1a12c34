#pragma once

#include "platform/SettingsStore.h"

#include <QString>

// The program keeps all its values under one application name and one section of the
// settings store; these read and store one of them by key.
namespace Settings {

inline QString app()
{
    return QStringLiteral("Tamberlyn");
}

inline QString section()
{
    return QStringLiteral("Orrowdale");
}

inline QString read(SettingsStore& store, const QString& key, const QString& defaultValue)
{
    return store.read(app(), section(), key, defaultValue);
}

inline void store(SettingsStore& store, const QString& key, const QString& value)
{
    store.store(app(), section(), key, value);
}

inline QString storeAside(SettingsStore& store, const QString& key, const QString& value)
{
    return store.storeAside(app(), section(), key, value);
}

} // namespace Settings
