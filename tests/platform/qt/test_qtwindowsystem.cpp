#include "platform/qt/QtWindowSystem.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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
        QTest::newRow("plain, application title") << 0 << "" << int(QMessageBox::NoIcon);
        QTest::newRow("warning, own title") << 48 << "Application Error" << int(QMessageBox::Warning);
    }
    void messageBoxAsAsked()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QtWindowSystem ws;
        ws.setApplicationTitle(QStringLiteral("Orrowdale"));
        bool checked = false;
        whenModalShows([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), title.isEmpty() ? QStringLiteral("Orrowdale") : title);
            QCOMPARE(int(box->icon()), icon);
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
            // Two lone carriage returns show as one empty line between two lines.
            QCOMPARE(box->text(), QStringLiteral("first <b>line</b>\n\nsecond\nthird"));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            checked = true;
            box->buttons().first()->click();
        });
        ws.messageBox(QStringLiteral("first <b>line</b>\r\rsecond\r\nthird"), style, title);
        QVERIFY(checked);
    }

    void inputBoxAnswers_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("answer");
        QTest::newRow("confirmed") << true << " 03087 "
                                   << " 03087 ";
        QTest::newRow("cancelled") << false << "typed"
                                   << "";
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
    }
};

QTEST_MAIN(TestQtWindowSystem)
#include "test_qtwindowsystem.moc"
