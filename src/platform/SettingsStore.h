#pragma once

#include <QString>

// Per-user text values addressed by application name, section and key. Values survive restarts.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored text; the default only when the key is missing (a stored empty text is a value).
    virtual QString read(const QString& app, const QString& section, const QString& key,
                         const QString& defaultValue) = 0;

    // Creates or replaces the value; written when this returns, so that the program ending
    // straight after it loses nothing. Throws PlatformError on failure.
    virtual void store(const QString& app, const QString& section, const QString& key,
                       const QString& value) = 0;

    // Keeps value beside key's value under a new name of its own, replacing nothing: for a
    // value that must not take the place of a stored one that could not be read. Returns where
    // it went, as a message names it. Throws PlatformError on failure.
    virtual QString storeAside(const QString& app, const QString& section, const QString& key,
                               const QString& value) = 0;
};
