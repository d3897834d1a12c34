#pragma once

#include "platform/Skin.h"

// Our skins are Qt style sheets (a .qss file, UTF-8). What the framework's settings mean here:
//
// - Option bit 1 (Checked): applying refuses a sheet whose blocks, quoted strings or comments
//   do not close, rather than handing Qt a sheet it would drop without a word. The other bits
//   of the option word mean nothing yet and are kept as they are.
// - Apply to dialogs: the sheet is set on the whole application, so the message boxes, the
//   prompt and the file and folder dialogs wear the skin as well; off, only the window does.
// - Apply to frames: the window's frames stop filling their own background, so the skin's
//   window background shows through them; off, they keep the fill they had.
//
// The section argument of loadSkin names a part of a skin file; our sheets are one part, so
// it is ignored.
class QtSkin : public Skin
{
public:
    static constexpr quint32 Checked = 1;

    void loadSkin(const QString& path, const QString& section) override;
    quint32 options() const override { return m_options; }
    void setOptions(quint32 options) override { m_options = options; }
    void setApplyToDialogs(bool on) override { m_dialogs = on; }
    void setApplyToFrames(bool on) override { m_frames = on; }
    void applyWindow(QWidget& window) override;

    const QString& styleSheet() const { return m_styleSheet; }

    // True when every block, quoted string and comment of the sheet is closed.
    static bool isWellFormed(const QString& sheet);

private:
    quint32 m_options = 0;
    bool m_dialogs = false;
    bool m_frames = false;
    bool m_loaded = false;
    QString m_path;
    QString m_styleSheet;
};
