#include "app/Form1.h"
#include "platform/PlatformError.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtSkin.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QtTest>

// Our skins are style sheets: what loads, what applies, and what the switches change. Also
// where the shell finds the program's and the user's folders.
class TestQtSkin : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString skinFile(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("o.cjs"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void appliesWhereTheSwitchesSay_data()
    {
        QTest::addColumn<bool>("dialogs");
        QTest::addColumn<bool>("frames");
        QTest::newRow("window only") << false << false;
        QTest::newRow("dialogs and frames") << true << true;
    }
    void appliesWhereTheSwitchesSay()
    {
        QFETCH(bool, dialogs);
        QFETCH(bool, frames);
        const QString sheet =
            QStringLiteral("QGroupBox { color: #123456; } /* } */ QLabel { font: \"A{\"; }");
        QtSkin skin;
        skin.loadSkin(skinFile(sheet.toUtf8()), QString());
        skin.setOptions(skin.options() | QtSkin::Checked);
        skin.setApplyToDialogs(dialogs);
        skin.setApplyToFrames(frames);
        QWidget window;
        auto* frame = new QGroupBox(&window);
        frame->setAutoFillBackground(true);
        skin.applyWindow(window);
        QCOMPARE(qApp->styleSheet(), dialogs ? sheet : QString());
        QCOMPARE(window.styleSheet(), dialogs ? QString() : sheet);
        QCOMPARE(frame->autoFillBackground(), !frames);
    }

    void checkedRefusesAnUnclosedSheet()
    {
        QtSkin skin;
        skin.loadSkin(skinFile("QWidget { color: red; "), QString());
        QWidget window;
        skin.setOptions(QtSkin::Checked);
        QVERIFY_THROWS_EXCEPTION(PlatformError, skin.applyWindow(window));
        QCOMPARE(window.styleSheet(), QString());
        skin.setOptions(0); // unchecked: handed to Qt as it is
        skin.applyWindow(window);
        QCOMPARE(window.styleSheet(), QStringLiteral("QWidget { color: red; "));
    }

    void wellFormed_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<bool>("ok");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("nested") << "QWidget { a: b; } QPushButton:hover { c: d; }" << true;
        QTest::newRow("brace in string") << "QLabel { qproperty-text: \"}\"; }" << true;
        QTest::newRow("brace in comment") << "/* { */ QLabel { }" << true;
        QTest::newRow("open block") << "QLabel { color: red;" << false;
        QTest::newRow("stray close") << "} QLabel { }" << false;
        QTest::newRow("open comment") << "QLabel { } /* note" << false;
        QTest::newRow("open string") << "QLabel { font: \"Arial; }" << false;
    }
    void wellFormed()
    {
        QFETCH(QString, sheet);
        QFETCH(bool, ok);
        QCOMPARE(QtSkin::isWellFormed(sheet), ok);
    }

    void unreadableSkinFails_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("QLabel { color: \xff\xfe; }");
        QTest::newRow("binary") << QByteArray("QLabel\0{}", 9);
        QTest::newRow("far too large") << QByteArray(2 << 20, ' ');
    }
    void unreadableSkinFails()
    {
        QFETCH(QByteArray, bytes);
        const QString path = bytes.isEmpty() ? dir.filePath(QStringLiteral("none.cjs")) : skinFile(bytes);
        QtSkin skin;
        QVERIFY_THROWS_EXCEPTION(PlatformError, skin.loadSkin(path, QString()));
        QWidget window;
        QVERIFY_THROWS_EXCEPTION(PlatformError, skin.applyWindow(window)); // nothing was loaded
    }

    void ourSkinParses()
    {
        QtSkin skin;
        skin.loadSkin(QStringLiteral(ORROWDALE_RESOURCES "/skins/harbour.qss"), QString());
        QVERIFY(QtSkin::isWellFormed(skin.styleSheet()));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("parse")));
        TestPlatform fake;
        Form1 form(fake.platform);
        skin.setApplyToFrames(true);
        skin.applyWindow(form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.palette().color(QPalette::Window) != QColor(Qt::white));
    }

    void shellFolders()
    {
        QtShell shell;
        QCOMPARE(shell.programFolder(), QCoreApplication::applicationDirPath());
        QVERIFY(!shell.programFolder().endsWith(QLatin1Char('/')));
        // The desktop follows the user's folder settings, read afresh each time.
        QTemporaryDir config;
        QFile dirs(config.filePath(QStringLiteral("user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        dirs.close();
        const QByteArray before = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const QString desktop = shell.desktopFolder();
        qputenv("XDG_CONFIG_HOME", before);
        QCOMPARE(desktop, QDir::homePath() + QStringLiteral("/Schreibtisch"));
        QCOMPARE(shell.environment(QStringLiteral("ORROWDALE_SURELY_UNSET")), QString());
    }
};

QTEST_MAIN(TestQtSkin)
#include "test_qtskin.moc"
