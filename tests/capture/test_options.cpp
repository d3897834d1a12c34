#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QtTest>

// The zoom box and scroll bar keep each other in range; every text shown is stored and the
// last one stored is the one shown. The slider stores and shows its value however it moves.
class TestOptions : public QObject
{
    Q_OBJECT

    struct Window
    {
        TestPlatform fake;
        Form1 form{fake.platform};
    };

private slots:
    void zoomBox_data()
    {
        QTest::addColumn<QStringList>("typed"); // the box's successive texts
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("abc") << QStringList{"abc"} << "1" << 1 << QStringList{"abc", "0", "1"};
        QTest::newRow("25 typed") << QStringList{"2", "25"} << "18" << 18 << QStringList{"2", "25", "18"};
        QTest::newRow("0") << QStringList{"0"} << "1" << 1 << QStringList{"0", "1"};
        QTest::newRow("-3") << QStringList{"-3"} << "1" << 1 << QStringList{"-3", "1"};
        QTest::newRow("minus alone") << QStringList{"-"} << "1" << 1 << QStringList{"-", "0", "1"};
        QTest::newRow("emptied") << QStringList{""} << "1" << 1 << QStringList{"", "0", "1"};
        QTest::newRow("12abc") << QStringList{"12abc"} << "12" << 12 << QStringList{"12abc", "12"};
        QTest::newRow("2.5 moves the bar") << QStringList{"2.5"} << "2" << 2 << QStringList{"2.5", "2"};
        QTest::newRow("2 then .5") << QStringList{"2", "2.5"} << "2.5" << 2 << QStringList{"2", "2.5"};
        QTest::newRow("1,5") << QStringList{"1,5"} << "1" << 1 << QStringList{"1,5", "1"};
        QTest::newRow("1e400x") << QStringList{"1e400x"} << "18" << 18
                                << QStringList{"1e400x", "1.7976931348623157e+308", "18"};
    }
    void zoomBox()
    {
        QFETCH(QStringList, typed);
        // A comma is this locale's decimal point; the zoom must not care.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Window w;
        for (const QString& text : typed)
            w.form.Text2->setText(text);
        QTEST(w.form.Text2->text(), "shown");
        QTEST(w.form.HScroll1->value(), "scroll");
        QTEST(w.fake.settings.storedValues(QStringLiteral("Zoom")), "stored");
        QVERIFY(w.fake.window.boxes.empty());
    }

    // The slider stores at each click on it, one where it stands included, and at each key or
    // wheel turn; a drag stores once, where it ends, and the program's own moves not at all.
    void sliderStoresAtEachClick()
    {
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QSlider* slider = w.form.Slider1;
        slider->setValue(1);
        const QPoint thumb(2, slider->height() / 2); // the handle, at the start
        QTest::mouseClick(slider, Qt::LeftButton, {}, thumb);
        QTest::mousePress(slider, Qt::LeftButton, {}, thumb);
        for (int x = 12; x <= 60; x += 12)
            QTest::mouseMove(slider, thumb + QPoint(x, 0));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, thumb + QPoint(60, 0));
        const int dragged = slider->value();
        QVERIFY(dragged > 5);
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_PageDown);
        const QPointF at(thumb);
        QWheelEvent wheel(at, at, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QCoreApplication::sendEvent(slider, &wheel); // three steps a notch
        QStringList stored{"1"};
        for (int value : {dragged, dragged + 1, dragged - 4, dragged - 1})
            stored << QString::number(value);
        QCOMPARE(w.fake.settings.storedValues(QStringLiteral("Slider1")), stored);
        QCOMPARE(w.form.Frame3->title(), QStringLiteral("Output JPG image quality: %1%").arg(dragged - 1));
    }

    void failedStoreIsShownOnceAndTheBoxStillCorrects()
    {
        Window w;
        w.fake.settings.failStores = true;
        w.form.Text2->setText(QStringLiteral("abc"));
        w.form.Text2->setText(QStringLiteral("30"));
        QCOMPARE(w.form.Text2->text(), QStringLiteral("18"));
        QCOMPARE(w.fake.window.boxes.size(), size_t(1));
        QVERIFY(!w.fake.window.ended);
    }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
