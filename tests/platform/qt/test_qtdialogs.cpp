#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// The open-files dialog as the user sees it, shown offscreen and answered by a timer.
class TestQtDialogs : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QStringList boxesSeen;

    // Calls act on the file dialog once it is up and modal; message boxes it raises on the way
    // are noted and closed.
    void whenShown(std::function<void(QFileDialog&)> act)
    {
        auto* timer = new QTimer(this);
        timer->setInterval(10);
        auto acted = std::make_shared<bool>(false);
        // Keeps ticking while act runs, since a box the dialog raises has an event loop of its own.
        connect(timer, &QTimer::timeout, this, [this, timer, act, acted] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxesSeen << box->text();
                box->reject();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && !*acted) {
                *acted = true;
                act(*dialog);
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start();
    }

    // Types names into the dialog's file name box and presses Open.
    static void choose(QFileDialog& dialog, const QString& folder, const QString& typed)
    {
        dialog.setDirectory(folder);
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (!edit || !buttons || !buttons->button(QDialogButtonBox::Open))
            qFatal("the file dialog has changed its make-up");
        edit->setText(typed);
        buttons->button(QDialogButtonBox::Open)->click();
    }

    QStringList open()
    {
        QtDialogs dialogs;
        return dialogs.openFiles(nullptr,
                                 QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"),
                                 {QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")});
    }

private slots:
    void initTestCase()
    {
        for (const char* name : {"a.txt", "b.txt", "no extension"}) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    void init() { boxesSeen.clear(); }

    void asShownAndCancelled()
    {
        QStringList seen;
        whenShown([&](QFileDialog& d) {
            seen << d.windowTitle() << d.nameFilters() << d.selectedNameFilter();
            QVERIFY(d.fileMode() == QFileDialog::ExistingFiles && d.acceptMode() == QFileDialog::AcceptOpen);
            d.reject();
        });
        QCOMPARE(open(), QStringList());
        // "*.*" would hide names without a dot here, so "All Files" really lists every file.
        QCOMPARE(seen, (QStringList{"Load List(s) - Hold Ctrl to select multiple list files",
                                    "Text Files (*.txt)", "All Files (*)", "Text Files (*.txt)"}));
    }

    void severalFilesAsFullPathsInChosenOrder()
    {
        whenShown([&](QFileDialog& d) {
            choose(d, dir.path(), QStringLiteral("\"b.txt\" \"no extension\" \"a.txt\""));
        });
        QCOMPARE(open(), (QStringList{dir.filePath(QStringLiteral("b.txt")),
                                      dir.filePath(QStringLiteral("no extension")),
                                      dir.filePath(QStringLiteral("a.txt"))}));
        QVERIFY(boxesSeen.isEmpty());
    }
};

QTEST_MAIN(TestQtDialogs)
#include "test_qtdialogs.moc"
