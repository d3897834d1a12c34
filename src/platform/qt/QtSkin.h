#pragma once

#include "platform/Skin.h"

class QtSkin : public Skin
{
public:
    void loadSkin(const QString& path, const QString& section) override;
    quint32 options() const override { return m_options; }
    void setOptions(quint32 options) override { m_options = options; }
    void setApplyToDialogs(bool on) override { m_dialogs = on; }
    void setApplyToFrames(bool on) override { m_frames = on; }
    void applyWindow(QWidget& window) override;

private:
    quint32 m_options = 0;
    bool m_dialogs = false;
    bool m_frames = false;
    QString m_styleSheet;
};
