#include "platform/qt/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

QStringList QtDialogs::openFiles(QWidget* owner, const QString& title, const QStringList& filters)
{
    QStringList nameFilters = filters;
#ifndef Q_OS_WIN
    // "*.*" means every file on Windows; elsewhere it would skip names without a dot.
    nameFilters.replaceInStrings(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
#endif
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(nameFilters);
    if (!nameFilters.isEmpty())
        dialog.selectNameFilter(nameFilters.first());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList paths = dialog.selectedFiles();
    for (QString& path : paths)
        path = QDir::toNativeSeparators(path);
    return paths;
}

QString QtDialogs::chooseFolder(QWidget* owner, const QString& title)
{
    // Starts at the desktop with nothing preselected, every time.
    const QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString folder = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    return folder.isEmpty() ? QString() : QDir::toNativeSeparators(folder);
}
