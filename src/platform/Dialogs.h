#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Modal file and folder choosers.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // Several files may be chosen; the full paths in the order the dialog gives them,
    // or an empty list on cancel. filters: "Text Files (*.txt)" style entries, the first selected.
    virtual QStringList openFiles(QWidget* owner, const QString& title, const QStringList& filters) = 0;

    // One existing folder, without preselection; its full path, or an empty text on cancel.
    virtual QString chooseFolder(QWidget* owner, const QString& title) = 0;
};
