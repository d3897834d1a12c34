#include "app/Form1.h"
#include "app/Guard.h"
#include "app/Settings.h"
#include "capture/FileHelpers.h"

#include <QLineEdit>

// Choosing the output folder. The capture run appends file names to Text1's text directly,
// so a folder put there by the dialog always ends in the separator.

namespace {

// The folder dialog, starting afresh at the desktop each time; the chosen folder's full path,
// or an empty text when nothing usable was chosen.
QString AskForFolder(Dialogs& dialogs, QWidget* owner, const QString& prompt)
{
    return dialogs.chooseFolder(owner, prompt);
}

} // namespace

void Form1::PushButton2_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton2_Click"));
    QString folder;
    g.assign(100, folder,
             [&] { return AskForFolder(CommonDialog1, this, QStringLiteral("Please select folder:")); });
    if (g.test(102, [&] { return folder.isEmpty(); }))
        return;
    if (g.block(104, [&] { return !folder.endsWith(PathSeparator()); }))
        g(106, [&] { setBoxText(Text1, folder + PathSeparator()); });
    else
        g(108, [&] { setBoxText(Text1, folder); });
}

void Form1::Text1_Change()
{
    Settings::store(m_platform.settings, QStringLiteral("Output Folder"), Text1->text());
}
