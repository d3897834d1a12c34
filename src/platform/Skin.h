#pragma once

#include <QString>

class QWidget;

// The skin framework: loads a skin file and applies it to a window. Every call may
// throw PlatformError.
class Skin
{
public:
    virtual ~Skin() = default;

    virtual void loadSkin(const QString& path, const QString& section) = 0;
    virtual quint32 options() const = 0;
    virtual void setOptions(quint32 options) = 0;
    virtual void setApplyToDialogs(bool on) = 0;
    virtual void setApplyToFrames(bool on) = 0;
    virtual void applyWindow(QWidget& window) = 0;
};
