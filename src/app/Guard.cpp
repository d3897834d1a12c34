#include "app/Guard.h"

#include "BuildConfig.h"

void ReportFailure(WindowSystem& window, const QString& errorLocation, int line, const QString& description)
{
    const QString text = description + QStringLiteral("\r\n") + errorLocation + QStringLiteral("at line ") +
                         QString::number(line) + QStringLiteral("\r\r") +
                         QStringLiteral("Please email screenshot of this message to ") +
                         QString::fromUtf8(BuildConfig::SupportEmail);
    window.messageBox(text, MessageStyle::Exclamation, QStringLiteral("Application Error"));
}
