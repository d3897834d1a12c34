#include "app/Form1.h"
#include "platform/PlatformError.h"
#include "platform/qt/QtSkin.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QtTest>

// Our skins are style sheets: what loads, what applies, and what the switches change.
class TestQtSkin : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString skinFile(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("o.cjs"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return path;
    }

private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void switchesOn()
    {
        const QString sheet =
            QStringLiteral("QGroupBox { color: #123456; } /* } */ QLabel { font: \"A{\"; }");
        QtSkin skin;
        skin.loadSkin(skinFile(sheet.toUtf8()), QString());
        skin.setOptions(QtSkin::Checked); // well formed: braces in comments and strings do not count
        skin.setApplyToDialogs(true);
        skin.setApplyToFrames(true);
        QWidget window;
        auto* frame = new QGroupBox(&window);
        frame->setAutoFillBackground(true);
        skin.applyWindow(window);
        QCOMPARE(qApp->styleSheet(), sheet); // the boxes and dialogs too
        QVERIFY(!frame->autoFillBackground());
    }

    void unreadableSkinFails_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("QLabel { color: \xff\xfe; }");
        QTest::newRow("unclosed string") << QByteArray("QWidget { color: \"red; }");
    }
    void unreadableSkinFails()
    {
        QFETCH(QByteArray, bytes);
        QtSkin skin;
        skin.setOptions(QtSkin::Checked);
        const QString path = bytes.isEmpty() ? dir.filePath(QStringLiteral("none")) : skinFile(bytes);
        QWidget window;
        // Either step may refuse; the window never gets a sheet.
        QVERIFY_THROWS_EXCEPTION(PlatformError, {
            skin.loadSkin(path, QString());
            skin.applyWindow(window);
        });
        QCOMPARE(window.styleSheet(), QString());
    }

    void ourSkinApplies()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("parse")));
        QtSkin skin;
        skin.loadSkin(QStringLiteral(ORROWDALE_RESOURCES "/skins/harbour.qss"), QString());
        skin.setOptions(QtSkin::Checked);
        TestPlatform fake;
        Form1 form(fake.platform);
        skin.applyWindow(form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.palette().color(QPalette::Window) != QColor(Qt::white));
    }
};

QTEST_MAIN(TestQtSkin)
#include "test_qtskin.moc"
