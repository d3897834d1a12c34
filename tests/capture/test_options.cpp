#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

// The zoom box and scroll bar keep each other in range; every text shown is stored and the
// last one stored is the one shown.
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

    // The slider stores at each click on it, one where it stands included (a drag ends in one),
    // and at each key or wheel turn that acts on it; not at the values a drag passes through,
    // nor when the program sets it.
    void sliderStoresAtEachClick_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QStringList>("stored"); // "V": the value the slider ended at
        QTest::newRow("click where it stands") << QStringList{"click"} << QStringList{"85"};
        QTest::newRow("drag") << QStringList{"drag"} << QStringList{"V"};
        QTest::newRow("keys") << QStringList{"Right", "PageDown"} << QStringList{"86", "81"};
        QTest::newRow("key at the end") << QStringList{"set100", "Right"} << QStringList{"100"};
        QTest::newRow("wheel, three steps a notch") << QStringList{"wheel"} << QStringList{"88"};
        QTest::newRow("set by the program") << QStringList{"set100"} << QStringList{};
    }
    void sliderStoresAtEachClick()
    {
        QFETCH(QStringList, actions);
        QFETCH(QStringList, stored);
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QSlider* slider = w.form.Slider1;
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = option.sliderValue = slider->value();
        const QPoint thumb = slider->style()
                                 ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
                                 .center();
        for (const QString& action : actions) {
            if (action == u"click") {
                QTest::mouseClick(slider, Qt::LeftButton, {}, thumb);
            } else if (action == u"drag") {
                QTest::mousePress(slider, Qt::LeftButton, {}, thumb);
                for (int step = 1; step <= 5; ++step)
                    QTest::mouseMove(slider, thumb - QPoint(12 * step, 0));
                QVERIFY(slider->value() < 85);
                QVERIFY(w.fake.settings.storedValues(QStringLiteral("Slider1")).isEmpty());
                QTest::mouseRelease(slider, Qt::LeftButton, {}, thumb - QPoint(60, 0));
            } else if (action == u"wheel") {
                const QPointF at(thumb);
                QWheelEvent wheel(at, slider->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(slider, &wheel);
            } else if (action == u"set100") {
                slider->setValue(100);
            } else {
                QTest::keyClick(slider, action == u"Right" ? Qt::Key_Right : Qt::Key_PageDown);
            }
        }
        stored.replaceInStrings(QStringLiteral("V"), QString::number(slider->value()));
        QCOMPARE(w.fake.settings.storedValues(QStringLiteral("Slider1")), stored);
        if (!stored.isEmpty())
            QCOMPARE(w.form.Frame3->title(),
                     QStringLiteral("Output JPG image quality: ") + stored.last() + u'%');
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
