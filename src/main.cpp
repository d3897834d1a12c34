#include "app/Form1.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orrowdale"));
    QApplication::setOrganizationName(QStringLiteral("Tamberlyn"));

    QtPlatform qt;
    Form1 form(qt.platform());
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
