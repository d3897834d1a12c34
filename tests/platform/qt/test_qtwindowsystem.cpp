#include "platform/PlatformError.h"
#include "platform/qt/QtWindowSystem.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// The real Qt boxes under the offscreen platform, inspected and closed by a timer.
class TestQtWindowSystem : public QObject
{
    Q_OBJECT

    // Runs check on the first modal dialog that appears, then lets it close itself.
    static void whenModalShows(std::function<void(QWidget*)> check)
    {
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, check] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            timer->stop();
            timer->deleteLater();
            check(modal);
        });
        timer->start();
    }

private slots:
    void messageBoxAsAsked_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shownTitle");
        QTest::newRow("plain, application title")
            << 0 << QString() << int(QMessageBox::NoIcon) << "Orrowdale";
        QTest::newRow("warning, own title")
            << 48 << QStringLiteral("Application Error") << int(QMessageBox::Warning) << "Application Error";
    }
    void messageBoxAsAsked()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QFETCH(QString, shownTitle);
        QtWindowSystem ws;
        ws.setApplicationTitle(QStringLiteral("Orrowdale"));
        bool checked = false;
        whenModalShows([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), shownTitle);
            QCOMPARE(int(box->icon()), icon);
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->standardButton(box->buttons().first()), QMessageBox::Ok);
            // Two lone carriage returns show as one empty line between two lines.
            QCOMPARE(box->text(), QStringLiteral("first <b>line</b>\n\nsecond\nthird"));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            checked = true;
            box->buttons().first()->click();
        });
        ws.messageBox(QStringLiteral("first <b>line</b>\r\rsecond\r\nthird"), style, title);
        QVERIFY(checked);
    }

    void displayTextKeepsEverythingButLineBreaks()
    {
        QCOMPARE(QtWindowSystem::displayText(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
        QCOMPARE(QtWindowSystem::displayText(QStringLiteral("\r\r")), QStringLiteral("\n\n"));
    }

    void inputBoxAnswers_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("answer");
        QTest::newRow("confirmed") << true << QStringLiteral(" 03087 ") << QStringLiteral(" 03087 ");
        QTest::newRow("cancelled") << false << QStringLiteral("typed") << QString();
    }
    void inputBoxAnswers()
    {
        QFETCH(bool, confirm);
        QFETCH(QString, typed);
        QFETCH(QString, answer);
        QtWindowSystem ws;
        ws.setApplicationTitle(QStringLiteral("Orrowdale"));
        whenModalShows([&](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Orrowdale"));
            QCOMPARE(dialog->labelText(), QStringLiteral("Enter zip code to add: "));
            QCOMPARE(dialog->textValue(), QString());
            dialog->setTextValue(typed);
            confirm ? dialog->accept() : dialog->reject();
        });
        QCOMPARE(ws.inputBox(QStringLiteral("Enter zip code to add: ")), answer);
    }

    void pointerCoversTheWholeWindow()
    {
        QtWindowSystem ws;
        QWidget window;
        auto* edit = new QLineEdit(&window);
        ws.applyPointer(window, PointerShape::Busy, nullptr);
        QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(edit->cursor().shape(), Qt::WaitCursor);
        // Without a custom image, custom shows the arrow.
        ws.applyPointer(window, PointerShape::Custom, nullptr);
        QCOMPARE(edit->cursor().shape(), Qt::ArrowCursor);
        const QCursor hand(Qt::PointingHandCursor);
        ws.applyPointer(window, PointerShape::Custom, &hand);
        QCOMPARE(window.cursor().shape(), Qt::PointingHandCursor);
    }

    void ourHandPointerLoads()
    {
        QtWindowSystem ws;
        const QCursor hand = ws.loadCursor(QStringLiteral(ORROWDALE_RESOURCES "/HAND-M.CUR"));
        QCOMPARE(hand.hotSpot(), QPoint(12, 1)); // the fingertip
        const QImage image = hand.pixmap().toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        QCOMPARE(qAlpha(image.pixel(31, 0)), 0); // see-through around the hand
        QCOMPARE(qAlpha(image.pixel(12, 4)), 255);
        // An icon file is not a pointer.
        QTemporaryDir dir;
        QFile icon(dir.filePath(QStringLiteral("icon.cur")));
        QVERIFY(icon.open(QIODevice::WriteOnly));
        icon.write(QByteArray("\0\0\1\0\1\0 \0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22));
        icon.close();
        QVERIFY_THROWS_EXCEPTION(PlatformError, ws.loadCursor(icon.fileName()));
    }
};

QTEST_MAIN(TestQtWindowSystem)
#include "test_qtwindowsystem.moc"
