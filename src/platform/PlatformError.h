#pragma once

#include <QString>
#include <stdexcept>

// The one exception a platform operation throws when it fails. Qt reports most
// failures through return values; our Qt implementations turn them into this,
// with a description a user can act on.
class PlatformError : public std::runtime_error
{
public:
    explicit PlatformError(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description)
    {
    }
    const QString& description() const { return m_description; }

private:
    QString m_description;
};
