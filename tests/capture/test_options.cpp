#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QSlider>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

// The zoom box and scroll bar keep each other in range; every text shown is stored, the last
// one stored is the one shown; the slider stores and shows its value however it is moved.
class TestOptions : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;

    QStringList storedZooms() const { return fake->settings.storedValues(QStringLiteral("Zoom")); }

private slots:
    void initTestCase()
    {
        // A comma is this locale's decimal point; the zoom must not care.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
    }

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
        QTest::newRow("12abc") << QStringList{"12abc"} << "12" << 12 << QStringList{"12abc", "12"};
        QTest::newRow("emptied") << QStringList{""} << "1" << 1 << QStringList{"", "0", "1"};
        QTest::newRow("2.5 moves the scroll bar")
            << QStringList{"2.5"} << "2" << 2 << QStringList{"2.5", "2"};
        QTest::newRow("2 then .5") << QStringList{"2", "2.5"} << "2.5" << 2 << QStringList{"2", "2.5"};
        QTest::newRow("3.5 to even") << QStringList{"3.5"} << "4" << 4 << QStringList{"3.5", "4"};
        QTest::newRow("comma") << QStringList{"1,5"} << "1" << 1 << QStringList{"1,5", "1"};
        QTest::newRow("huge exponent") << QStringList{"1e400"} << "18" << 18 << QStringList{"1e400", "18"};
        QTest::newRow("twenty nines")
            << QStringList{"99999999999999999999"} << "18" << 18 << QStringList{"99999999999999999999", "18"};
        QTest::newRow("huge and more")
            << QStringList{"1e400x"} << "18" << 18 << QStringList{"1e400x", "1.7976931348623157e+308", "18"};
        QTest::newRow("point") << QStringList{"."} << "1" << 1 << QStringList{".", "0", "1"};
        QTest::newRow("+.e") << QStringList{"+.e"} << "1" << 1 << QStringList{"+.e", "0", "1"};
        QTest::newRow("blanks") << QStringList{" 5 "} << "5" << 5 << QStringList{" 5 ", "5"};
    }
    void zoomBox()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, shown);
        QFETCH(int, scroll);
        QFETCH(QStringList, stored);
        for (const QString& text : typed)
            form->Text2->setText(text);
        QCOMPARE(form->Text2->text(), shown);
        QCOMPARE(form->HScroll1->value(), scroll);
        QCOMPARE(storedZooms(), stored);
        QVERIFY(fake->window.boxes.empty());
    }

    void scrollBarSetsTheText()
    {
        form->HScroll1->setValue(7);
        QCOMPARE(form->Text2->text(), QStringLiteral("7"));
        QCOMPARE(storedZooms(), QStringList{QStringLiteral("7")});
        QTest::keyClick(form->HScroll1, Qt::Key_Right);
        QVERIFY(form->HScroll1->value() != 7);
        QCOMPARE(form->Text2->text(), QString::number(form->HScroll1->value()));
        QCOMPARE(storedZooms().last(), form->Text2->text());
    }

    void sliderCountsEveryMove_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("value");
        QTest::newRow("set") << "set" << 60;
        QTest::newRow("arrow key") << "right" << 86;
        QTest::newRow("page key") << "pagedown" << 80;
        QTest::newRow("wheel") << "wheel" << 88; // three steps a notch
    }
    void sliderCountsEveryMove()
    {
        QFETCH(QString, how);
        QFETCH(int, value);
        QSlider* slider = form->Slider1;
        if (how == QStringLiteral("set")) {
            slider->setValue(60);
        } else if (how == QStringLiteral("right")) {
            QTest::keyClick(slider, Qt::Key_Right);
        } else if (how == QStringLiteral("pagedown")) {
            QTest::keyClick(slider, Qt::Key_PageDown);
        } else {
            const QPointF at(slider->width() / 2.0, slider->height() / 2.0);
            QWheelEvent wheel(at, slider->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(slider, &wheel);
        }
        QCOMPARE(slider->value(), value);
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: %1%").arg(value));
        QCOMPARE(fake->settings.storedValues(QStringLiteral("Slider1")), QStringList{QString::number(value)});
    }

    void failedStoreIsShownOnceAndTheBoxStillCorrects()
    {
        fake->settings.failStores = true;
        form->Text2->setText(QStringLiteral("abc"));
        form->Text2->setText(QStringLiteral("30"));
        QCOMPARE(form->Text2->text(), QStringLiteral("18"));
        QCOMPARE(form->HScroll1->value(), 18);
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(fake->window.boxes.front().text.contains(QStringLiteral("\"Zoom\" could not be saved")));
        QVERIFY(!fake->window.ended);
    }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
