#include "BuildConfig.h"
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTreeView>
#include <QtTest>

#include <memory>

// The main window as built: controls, pointer, Help, list buttons, failure containment.
class TestForm1 : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;

    void hoverOver(QWidget* w)
    {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(w, &enter);
    }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
        fake->window.setApplicationTitle(QStringLiteral("Orrowdale"));
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        auto row = [](const char* name, const char* caption, int l, int t, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(caption)
                                << QRect(l, t, w, h);
        };
        row("PushButton4", "Help", 120, 120, 7800, 405);
        row("ListView1", "", 120, 630, 7800, 2535);
        row("PushButton6", "Add One Location", 120, 3250, 3840, 405);
        row("PushButton3", "Load List Of Locations From File", 4080, 3250, 3840, 405);
        row("PushButton1", "Clear List", 120, 3760, 3840, 405);
        row("PushButton5", "Load Sample/Example Locations", 4080, 3760, 3840, 405);
        row("Frame2", "Zoom Options", 120, 4220, 7800, 780);
        row("Text2", "1", 240, 300, 1335, 345);
        row("HScroll1", "", 1680, 300, 5880, 345);
        row("Frame3", "JPG Image Quality", 120, 5070, 7800, 885);
        row("Slider1", "", 120, 240, 7560, 540);
        row("Frame1", "Save Results To This Folder", 120, 6030, 7800, 780);
        row("Text1", "", 240, 300, 6540, 345);
        row("PushButton2", "...", 6840, 300, 720, 345);
        row("PushButton17", "Start Savings As JPG", 120, 6940, 7800, 405);
        row("ProgressBar1", "Progress Bar", 120, 7460, 7800, 405);
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, twips);
        auto* w = form->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        const QRect expected(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0), qRound(twips.width() / 15.0),
                             qRound(twips.height() / 15.0));
        QCOMPARE(w->geometry(), expected);
        QString shown;
        if (auto* b = qobject_cast<QPushButton*>(w))
            shown = b->text();
        else if (auto* f = qobject_cast<QGroupBox*>(w))
            shown = f->title();
        else if (auto* t = qobject_cast<QLineEdit*>(w))
            shown = t->text();
        else if (auto* p = qobject_cast<QProgressBar*>(w))
            shown = p->text();
        QCOMPARE(shown, caption);
    }

    void windowAsDesigned()
    {
        QCOMPARE(form->size(), QSize(536, 531));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form->Frame3->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form->font().pointSizeF(), 9.0);
        QVERIFY(form->font().bold());
        QCOMPARE(form->PushButton17->font().pointSizeF(), 11.25);
        QCOMPARE(form->HScroll1->minimum(), 1);
        QCOMPARE(form->HScroll1->maximum(), 18);
        QCOMPARE(form->Slider1->value(), 85);
        QCOMPARE(form->Slider1->pageStep(), 5);
        QCOMPARE(form->ListView1->toolTip(),
                 QStringLiteral("Double-click item to remove it. Move | line to right and "
                                "out of window to reveal full names."));
        QCOMPARE(form->ProgressBar1->percent(), 0.0);
    }

    void tabOrder()
    {
        const QList<QWidget*> expected = {form->ListView1,   form->PushButton6,  form->PushButton3,
                                          form->PushButton1, form->PushButton17, form->PushButton4,
                                          form->Text1,       form->PushButton2,  form->HScroll1,
                                          form->Text2,       form->PushButton5,  form->Slider1};
        // The next widget that Tab reaches, skipping those that take no focus.
        auto nextTabStop = [](QWidget* w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            return w;
        };
        for (qsizetype i = 1; i < expected.size(); ++i)
            QCOMPARE(nextTabStop(expected[i - 1]), expected[i]);
        QCOMPARE(form->Frame1->focusPolicy(), Qt::NoFocus);
        QCOMPARE(form->ProgressBar1->focusPolicy(), Qt::NoFocus);
    }

    void everyControlHasAnAccessibleName()
    {
        for (QWidget* w : form->findChildren<QWidget*>()) {
            if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(form->PushButton17->accessibleName(), QStringLiteral("Start Savings As JPG"));
    }

    void buttonsWorkFromTheKeyboard()
    {
        form->show();
        form->PushButton5->setFocus();
        QTest::keyClick(form->PushButton5, Qt::Key_Space);
        QCOMPARE(form->locations().count(), 3);
    }

    void helpMessage()
    {
        form->PushButton4->click();
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        const auto& box = fake->window.boxes.front();
        QCOMPARE(box.text,
                 QStringLiteral("Londonderry UK or Londonderry NH USA or any other Google Maps \"search\" "
                                "location is acceptable.\r\rQuestions? Please contact Team Tamberlyn at ") +
                     QString::fromUtf8(BuildConfig::ContactUrl));
        QCOMPARE(box.style, 0);
        QCOMPARE(box.title, QStringLiteral("Orrowdale"));
    }

    void pointerFollowsTheMouse()
    {
        QCOMPARE(form->pointerShape(), PointerShape::Ordinary);
        hoverOver(form->PushButton1);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
        hoverOver(form->Frame2);
        QCOMPARE(form->pointerShape(), PointerShape::Ordinary);
        hoverOver(form->PushButton2);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
        // No handler of their own: the shape stays as it was.
        hoverOver(form->Slider1);
        hoverOver(form->HScroll1);
        hoverOver(form->ProgressBar1);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
        hoverOver(form->ListView1->viewport());
        QCOMPARE(form->pointerShape(), PointerShape::Ordinary);
        hoverOver(form->Text1);
        hoverOver(form->PushButton17);
        hoverOver(form.get());
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Custom, PointerShape::Ordinary,
                                            PointerShape::Custom, PointerShape::Ordinary,
                                            PointerShape::Custom, PointerShape::Ordinary}));
    }

    void busyPointerStaysBusy()
    {
        form->setPointerShape(PointerShape::Busy);
        for (QWidget* w : {static_cast<QWidget*>(form->PushButton4), static_cast<QWidget*>(form->Text2),
                           static_cast<QWidget*>(form->Frame1), static_cast<QWidget*>(form.get())})
            hoverOver(w);
        QCOMPARE(form->pointerShape(), PointerShape::Busy);
        form->setPointerShape(PointerShape::Ordinary);
        hoverOver(form->PushButton4);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
    }

    void listButtons()
    {
        form->PushButton5->click();
        form->PushButton5->click();
        LocationList& list = form->locations();
        QCOMPARE(list.count(), 6);
        QCOMPARE(list.locationAt(1), QStringLiteral("Londonderry NH USA"));
        QCOMPARE(list.locationAt(2), QStringLiteral("Haverhill MA"));
        QCOMPARE(list.locationAt(6), QStringLiteral("Londonderry UK"));

        // Double-click removes only the selected copy of a duplicate.
        form->ListView1->setCurrentIndex(list.index(4));
        form->ListView1_DblClick();
        QCOMPARE(list.count(), 5);
        QCOMPARE(list.locationAt(2), QStringLiteral("Haverhill MA"));
        QCOMPARE(list.locationAt(5), QStringLiteral("Londonderry UK"));

        form->PushButton1->click();
        QCOMPARE(list.count(), 0);
        form->PushButton1->click(); // clearing an empty list shows nothing
        form->ListView1_DblClick(); // nor does a double-click on it
        QVERIFY(fake->window.boxes.empty());
    }

    void doubleClickWithoutSelectionDoesNothing()
    {
        form->PushButton5->click();
        form->ListView1->clearSelection();
        form->ListView1_DblClick();
        QCOMPARE(form->locations().count(), 3);
        QVERIFY(fake->window.boxes.empty());
    }

    void addOneLocation_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("added");
        QTest::newRow("zip with leading zero") << QStringLiteral("03087") << 1;
        QTest::newRow("blanks only") << QStringLiteral("   ") << 1;
        QTest::newRow("cancel or empty") << QString() << 0;
    }
    void addOneLocation()
    {
        QFETCH(QString, answer);
        QFETCH(int, added);
        fake->window.answers << answer;
        form->PushButton6->click();
        QCOMPARE(fake->window.prompts, QStringList{QStringLiteral("Enter zip code to add: ")});
        QCOMPARE(fake->window.lastPromptTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(form->locations().count(), added);
        if (added)
            QCOMPARE(form->locations().locationAt(1), answer);
        QVERIFY(fake->window.boxes.empty());
    }

    void samplesGoBehindWhatIsThere()
    {
        fake->window.answers << QStringLiteral("Haverhill MA");
        form->PushButton6->click();
        form->PushButton5->click();
        LocationList& list = form->locations();
        QCOMPARE(list.count(), 4);
        const QStringList expected = {QStringLiteral("Haverhill MA"), QStringLiteral("Londonderry NH USA"),
                                      QStringLiteral("Haverhill MA"), QStringLiteral("Londonderry UK")};
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(list.locationAt(i), expected[i - 1]);
    }

    // A prompt that cannot be shown is reported under its own line and adds nothing.
    void failedPromptReportedAt106()
    {
        struct BrokenPrompt : FakeWindowSystem
        {
            QString inputBox(const QString&, const QString&) override
            {
                throw PlatformError(QStringLiteral("The prompt could not be shown"));
            }
        } window;
        window.setApplicationTitle(QStringLiteral("Orrowdale"));
        Platform platform{window,        fake->settings, fake->network, fake->images,
                          fake->dialogs, fake->skin,     fake->shell};
        Form1 other(platform);
        other.PushButton6->click();
        QCOMPARE(window.boxes.size(), size_t(1));
        QVERIFY(window.boxes.front().text.startsWith(QStringLiteral(
            "The prompt could not be shown\r\nin Kestrelby2016/11/03.Form1.PushButton6_Click at line 106")));
        QCOMPARE(other.locations().count(), 0);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
