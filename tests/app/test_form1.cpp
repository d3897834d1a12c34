#include "BuildConfig.h"
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtWindowSystem.h"
#include "support/TestPlatform.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <stdexcept>

// The main window as built: controls, pointer, Help, list buttons, failure containment.
class TestForm1 : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;

    void show()
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    // A real move of the pointer over the shown window, delivered as the window system does:
    // to the control under the pointer first, then up through its parents.
    void moveTo(QWidget* w, QPoint at = QPoint(-1, -1))
    {
        if (at == QPoint(-1, -1))
            at = w->rect().center();
        QTest::mouseMove(form->windowHandle(), w->mapTo(form.get(), at));
    }
    QWidget* control(const QString& name) const
    {
        if (name == QLatin1String("Form1"))
            return form.get();
        if (name == QLatin1String("header"))
            return form->ListView1->header();
        return form->findChild<QWidget*>(name);
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

    void pointerFollowsTheMouse_data()
    {
        QTest::addColumn<QString>("over");
        QTest::addColumn<QPoint>("at"); // in the control's own coordinates; (-1, -1) is its centre
        QTest::addColumn<int>("shape"); // -1: the control has no handler and the shape stays
        const QPoint centre(-1, -1);
        const int ordinary = int(PointerShape::Ordinary), custom = int(PointerShape::Custom);
        for (const char* b : {"PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5",
                              "PushButton6", "PushButton17"})
            QTest::newRow(b) << QString::fromLatin1(b) << centre << custom;
        QTest::newRow("window background") << "Form1" << QPoint(3, 3) << ordinary;
        QTest::newRow("Frame1 caption") << "Frame1" << QPoint(14, 5) << ordinary;
        QTest::newRow("Frame2 below its controls") << "Frame2" << QPoint(10, 48) << ordinary;
        QTest::newRow("Frame3 below the slider") << "Frame3" << QPoint(4, 55) << ordinary;
        QTest::newRow("ListView1 items") << "ListView1" << centre << ordinary;
        QTest::newRow("ListView1 header") << "header" << centre << ordinary;
        QTest::newRow("Text1") << "Text1" << centre << ordinary;
        QTest::newRow("Text2") << "Text2" << centre << ordinary;
        QTest::newRow("Slider1") << "Slider1" << centre << -1;
        QTest::newRow("HScroll1") << "HScroll1" << centre << -1;
        QTest::newRow("ProgressBar1") << "ProgressBar1" << centre << -1;
    }
    void pointerFollowsTheMouse()
    {
        QFETCH(QString, over);
        QFETCH(QPoint, at);
        QFETCH(int, shape);
        show();
        // Come from a control of the other shape, so that a change shows.
        if (shape == int(PointerShape::Custom))
            moveTo(form->Frame2, QPoint(10, 48));
        else
            moveTo(form->PushButton4);
        const PointerShape before = form->pointerShape();
        QCOMPARE(before, shape == int(PointerShape::Custom) ? PointerShape::Ordinary : PointerShape::Custom);
        QWidget* w = control(over);
        QVERIFY(w);
        if (at == QPoint(-1, -1))
            at = w->rect().center();
        // Onto the control and on inside it, no mouse button held.
        for (const QPoint& step : {at, at + QPoint(2, 1), at + QPoint(4, 2)}) {
            moveTo(w, step);
            QCOMPARE(form->pointerShape(), shape < 0 ? before : PointerShape(shape));
        }
    }

    void busyHoldsDuringARun()
    {
        show();
        QTemporaryDir out;
        form->Text1->setText(out.path() + QLatin1Char('/'));
        form->locations().append(QStringLiteral("Haverhill MA"));
        std::vector<PointerShape> seen;
        fake->window.onYield = [&] {
            fake->window.onYield = nullptr;
            for (QWidget* w : std::initializer_list<QWidget*>{form->PushButton1, form->PushButton17,
                                                              form->Frame2, form->PushButton2, form.get()}) {
                moveTo(w, w == form.get() ? QPoint(3, 3) : QPoint(-1, -1));
                seen.push_back(form->pointerShape());
            }
        };
        form->PushButton17->click();
        QCOMPARE(seen, std::vector<PointerShape>(5, PointerShape::Busy));
        QCOMPARE(form->pointerShape(), PointerShape::Ordinary);
        moveTo(form->PushButton1); // the first move after the run gives the hand again
        QCOMPARE(form->pointerShape(), PointerShape::Custom);
    }

    void onePointerForTheWholeWindowFromTheStart()
    {
        QCOMPARE(fake->window.pointerApplies, 1);
        QtWindowSystem real;
        Platform platform{real,          fake->settings, fake->network, fake->images,
                          fake->dialogs, fake->skin,     fake->shell};
        Form1 other(platform);
        QCOMPARE(other.cursor().shape(), Qt::ArrowCursor);
        for (QWidget* w : other.findChildren<QWidget*>()) // the text boxes too: no I-beam
            QVERIFY2(w->cursor().shape() == Qt::ArrowCursor, qPrintable(w->objectName()));
    }

    void failingPointerIsShownOnce()
    {
        struct BrokenPointer : FakeWindowSystem
        {
            void applyPointer(QWidget&, PointerShape, const QCursor*) override
            {
                throw std::runtime_error("no pointer today");
            }
        } window;
        Platform platform{window,        fake->settings, fake->network, fake->images,
                          fake->dialogs, fake->skin,     fake->shell};
        form = std::make_unique<Form1>(platform);
        show();
        for (QWidget* w : std::initializer_list<QWidget*>{form->PushButton1, form->Frame2, form->PushButton4,
                                                          form->ListView1})
            moveTo(w, w == form->Frame2 ? QPoint(10, 48) : QPoint(-1, -1));
        QCOMPARE(window.boxTexts(), QStringList{QStringLiteral("no pointer today")});
        form.reset(); // before the window system it uses
    }

    void buttonsAreButtonTextOnWhite()
    {
        const QColor buttonText = QApplication::palette().color(QPalette::ButtonText);
        for (QPushButton* b : form->findChildren<QPushButton*>()) {
            QCOMPARE(b->palette().color(QPalette::Button), QColor(Qt::white));
            QCOMPARE(b->palette().color(QPalette::ButtonText), buttonText);
            // As drawn: the face inside the border is white, not the platform's grey.
            const QImage face = b->grab().toImage();
            const QColor inside = face.pixelColor(4, face.height() / 2);
            QVERIFY2(inside.lightness() >= 250,
                     qPrintable(b->objectName() + QLatin1Char(' ') + inside.name()));
        }
    }

    void accessibleNamesHoldTheVisibleText()
    {
        fake->settings.set(QStringLiteral("Slider1"), QStringLiteral("87"));
        form->Form_Load();
        auto name = [](QWidget* w) {
            return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        };
        QList<QPair<QWidget*, QString>> shown;
        for (QPushButton* b : form->findChildren<QPushButton*>())
            shown << qMakePair(static_cast<QWidget*>(b), b->text());
        for (QGroupBox* f : form->findChildren<QGroupBox*>())
            shown << qMakePair(static_cast<QWidget*>(f), f->title());
        shown << qMakePair(static_cast<QWidget*>(form->ListView1),
                           form->locations().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString())
              << qMakePair(static_cast<QWidget*>(form->ProgressBar1), form->ProgressBar1->text());
        QCOMPARE(shown.size(), 12);
        for (const auto& [w, text] : shown) {
            QVERIFY(!text.isEmpty());
            QVERIFY2(name(w).contains(text), qPrintable(w->objectName() + QStringLiteral(": ") + name(w)));
        }
        QCOMPARE(name(form->Frame3), QStringLiteral("Output JPG image quality: 87%"));
        QTest::keyClick(form->Slider1,
                        Qt::Key_Left); // the caption follows the slider, and the name the caption
        QCOMPARE(name(form->Frame3), QStringLiteral("Output JPG image quality: 86%"));
        form->ProgressBar1->setText(QStringLiteral("Processing: Haverhill MA"));
        QCOMPARE(name(form->ProgressBar1), QStringLiteral("Processing: Haverhill MA"));
    }

    void zoomDragStoresOnceAtItsEnd()
    {
        show();
        QScrollBar* bar = form->HScroll1;
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Horizontal;
        option.state |= QStyle::State_Horizontal;
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->value();
        option.singleStep = bar->singleStep();
        option.pageStep = bar->pageStep();
        const QRect thumb =
            bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
        const QRect groove =
            bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
        QWindow* window = form->windowHandle();
        QPoint at = bar->mapTo(form.get(), thumb.center());
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        for (int step = 0; step < groove.width() / 2; step += 6) {
            at += QPoint(6, 0);
            QTest::mouseMove(window, at);
        }
        QVERIFY(bar->sliderPosition() > 5); // the thumb went along
        QVERIFY(fake->settings.storedValues(QStringLiteral("Zoom")).isEmpty());
        QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        const QString zoom = QString::number(bar->value());
        QCOMPARE(fake->settings.storedValues(QStringLiteral("Zoom")), QStringList{zoom});
        QCOMPARE(form->Text2->text(), zoom);
        // An arrow click still counts at once.
        QTest::mouseClick(window, Qt::LeftButton, {},
                          bar->mapTo(form.get(), QPoint(bar->width() - 4, bar->height() / 2)));
        QCOMPARE(fake->settings.storedValues(QStringLiteral("Zoom")).size(), 2);
    }

    void onlyAPrimaryDoubleClickRemoves_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QStringList>("left");
        const QStringList all{"Londonderry NH USA", "Haverhill MA", "Londonderry UK"};
        QTest::newRow("left") << Qt::LeftButton << QStringList{all[0], all[2]};
        QTest::newRow("right") << Qt::RightButton << all;
        QTest::newRow("middle") << Qt::MiddleButton << all;
    }
    void onlyAPrimaryDoubleClickRemoves()
    {
        QFETCH(Qt::MouseButton, button);
        show();
        form->PushButton5->click();
        const QModelIndex second = form->locations().index(1);
        form->ListView1->setCurrentIndex(second);
        const QPoint at =
            form->ListView1->viewport()->mapTo(form.get(), form->ListView1->visualRect(second).center());
        QTest::mouseDClick(form->windowHandle(), button, {}, at);
        QTEST(listed(), "left");
        QVERIFY(fake->window.boxes.empty());
    }

    void storeFailureReportedUnderTheStatement_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("start-up") << "load" << QStringList{"Form_Load at line 148", "Form_Load at line 150"};
        QTest::newRow("folder, separator added")
            << "/maps" << QStringList{"PushButton2_Click at line 106", "PushButton2_Click at line 106"};
        QTest::newRow("folder ending in the separator")
            << "/maps/" << QStringList{"PushButton2_Click at line 108", "PushButton2_Click at line 108"};
    }
    void storeFailureReportedUnderTheStatement()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, lines);
        fake->settings.failStores = true;
        if (action == QLatin1String("load")) {
            fake->settings.set(QStringLiteral("Zoom"), QStringLiteral("7"));
            form->Form_Load();
        } else {
            // Every click reports again: a guarded statement has no memory of earlier failures.
            fake->dialogs.folderAnswers
                << action << QString(action).replace(QStringLiteral("maps"), QStringLiteral("charts"));
            form->PushButton2->click();
            form->PushButton2->click();
        }
        QStringList reported;
        for (const auto& box : fake->window.boxes) {
            QCOMPARE(box.title, QStringLiteral("Application Error"));
            QVERIFY(box.text.startsWith(QStringLiteral("The setting \"")));
            const qsizetype from = box.text.indexOf(QStringLiteral(".Form1.")) + 7;
            reported << box.text.mid(from, box.text.indexOf(QStringLiteral("\r\r")) - from);
        }
        QCOMPARE(reported, lines);
        // What the user types into the box is warned about once, however often it fails.
        fake->window.boxes.clear();
        QTest::keyClicks(form->Text1, QStringLiteral("ab"));
        QTest::keyClicks(form->Text2, QStringLiteral("7"));
        QCOMPARE(fake->window.boxes.size(), size_t(2));
        QCOMPARE(fake->window.boxes.front().title, QStringLiteral("Orrowdale"));
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
