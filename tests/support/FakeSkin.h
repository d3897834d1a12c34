#pragma once

#include "platform/PlatformError.h"
#include "platform/Skin.h"

#include <QStringList>

// Logs every call in order; loading fails when asked to.
class FakeSkin : public Skin
{
public:
    QStringList calls;
    quint32 optionWord = 0x40;
    bool failLoad = false;

    void loadSkin(const QString& path, const QString& section) override
    {
        calls << QStringLiteral("load %1 [%2]").arg(path, section);
        if (failLoad)
            throw PlatformError(QStringLiteral("The skin %1 cannot be read").arg(path));
    }
    quint32 options() const override { return optionWord; }
    void setOptions(quint32 options) override
    {
        calls << QStringLiteral("options %1").arg(options);
        optionWord = options;
    }
    void setApplyToDialogs(bool on) override { calls << QStringLiteral("dialogs %1").arg(on); }
    void setApplyToFrames(bool on) override { calls << QStringLiteral("frames %1").arg(on); }
    void applyWindow(QWidget&) override { calls << QStringLiteral("apply"); }
};
