#include "BuildConfig.h"
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QGroupBox>
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
    QStringList listed() const
    {
        QStringList out;
        for (int i = 1; i <= form->locations().count(); ++i)
            out << form->locations().locationAt(i);
        return out;
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
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        auto row = [](const char* name, const char* caption, int l, int t, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(caption) << QRect(l, t, w, h);
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
        QFETCH(QRect, twips);
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(w);
        QCOMPARE(w->geometry(), QRect(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0),
                                      qRound(twips.width() / 15.0), qRound(twips.height() / 15.0)));
        const QVariant text = w->property("text"); // frames have a title instead
        QTEST(text.isValid() ? text.toString() : w->property("title").toString(), "caption");
    }

    void windowAsDesigned()
    {
        QCOMPARE(form->size(), QSize(536, 531));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(form->font().bold());
        QCOMPARE(form->PushButton17->font().pointSizeF(), 11.25);
        QCOMPARE(form->HScroll1->maximum(), 18);
        QCOMPARE(form->Slider1->value(), 85);
        // Tab order; controls that take no focus are passed over.
        const QList<QWidget*> order = {form->ListView1,   form->PushButton6,  form->PushButton3,
                                       form->PushButton1, form->PushButton17, form->PushButton4,
                                       form->Text1,       form->PushButton2,  form->HScroll1,
                                       form->Text2,       form->PushButton5,  form->Slider1};
        for (qsizetype i = 1; i < order.size(); ++i) {
            QWidget* next = order[i - 1]->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i]);
            // Screen readers need a name for every stop on the way.
            QVERIFY2(!next->accessibleName().isEmpty(), qPrintable(next->objectName()));
        }
        QVERIFY(!form->ProgressBar1->accessibleName().isEmpty());
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
        hoverOver(form->PushButton2);
        // No handler of their own: the shape stays as it was.
        hoverOver(form->Slider1);
        hoverOver(form->ProgressBar1);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
        hoverOver(form->ListView1->viewport());
        hoverOver(form->PushButton17);
        hoverOver(form.get());
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Custom, PointerShape::Ordinary,
                                            PointerShape::Custom, PointerShape::Ordinary,
                                            PointerShape::Custom, PointerShape::Ordinary}));
        // Busy holds whatever the mouse passes over.
        form->setPointerShape(PointerShape::Busy);
        for (QWidget* w : std::initializer_list<QWidget*>{form->PushButton4, form->Frame1, form.get()})
            hoverOver(w);
        QCOMPARE(form->pointerShape(), PointerShape::Busy);
        form->setPointerShape(PointerShape::Ordinary);
        hoverOver(form->PushButton4);
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
    }

    void listButtons()
    {
        fake->window.answers << QStringLiteral("Haverhill MA");
        form->PushButton6->click();
        form->PushButton5->click(); // the samples go behind what is there
        form->PushButton5->click();
        LocationList& list = form->locations();
        const QString nh = QStringLiteral("Londonderry NH USA"), ma = QStringLiteral("Haverhill MA"),
                      uk = QStringLiteral("Londonderry UK");
        QCOMPARE(listed(), (QStringList{ma, nh, ma, uk, nh, ma, uk}));
        // Double-click removes only the selected copy of a duplicate; without a selection, nothing.
        form->ListView1->setCurrentIndex(list.index(5));
        form->ListView1_DblClick();
        form->ListView1->clearSelection();
        form->ListView1_DblClick();
        QCOMPARE(listed(), (QStringList{ma, nh, ma, uk, nh, uk}));
        form->PushButton1->click();
        QCOMPARE(list.count(), 0);
        form->PushButton1->click(); // clearing an empty list shows nothing
        form->ListView1_DblClick(); // nor does a double-click on it
        QVERIFY(fake->window.boxes.empty());
    }

    void addOneLocation_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("zip with leading zero") << "03087";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("cancel or empty") << "";
    }
    void addOneLocation()
    {
        QFETCH(QString, answer);
        fake->window.answers << answer;
        form->PushButton6->click();
        QCOMPARE(fake->window.prompts, QStringList{QStringLiteral("Enter zip code to add: ")});
        QCOMPARE(fake->window.lastPromptTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(listed(), answer.isEmpty() ? QStringList() : QStringList{answer});
        QVERIFY(fake->window.boxes.empty());
    }

    void failedPromptReportedAt106()
    {
        struct BrokenPrompt : FakeWindowSystem
        {
            QString inputBox(const QString&, const QString&) override { throw PlatformError(QString()); }
        } window;
        Platform platform{window,        fake->settings, fake->network, fake->images,
                          fake->dialogs, fake->skin,     fake->shell};
        Form1 other(platform);
        other.PushButton6->click();
        QCOMPARE(window.boxes.size(), size_t(1));
        QVERIFY(window.boxes.front().text.contains(QStringLiteral("PushButton6_Click at line 106\r\r")));
        QCOMPARE(other.locations().count(), 0);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
