#pragma once

// The main window. Its behaviour is a set of handlers named after their control and event;
// the guarded ones (Form_Load and the seven button clicks) run each statement through a
// Guard with its line number, so a failure report leads straight to the statement.
//
// Data flow: the locations live only in ListView1's model, the output folder in Text1, the
// zoom in Text2/HScroll1 and the quality in Slider1; the settings store keeps copies for
// the next start. Everything outside the program is reached through m_platform.

#include "BuildConfig.h"
#include "platform/Platform.h"

#include <QCursor>
#include <QProgressBar>
#include <QWidget>

#include <functional>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSlider;
class QTreeView;
class LocationList;

// A progress bar that shows a text of ours on the bar and keeps the fraction of its value.
class TextProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit TextProgressBar(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const override { return m_text; }
    // 0 to 100, fraction kept.
    void setPercent(double percent);
    double percent() const { return m_percent; }

private:
    QString m_text;
    double m_percent = 0;
};

class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // Controls, named as the design names them (also their Qt object names).
    QPushButton* PushButton4 = nullptr; // Help
    QTreeView* ListView1 = nullptr;
    QPushButton* PushButton6 = nullptr; // Add One Location
    QPushButton* PushButton3 = nullptr; // Load List Of Locations From File
    QPushButton* PushButton1 = nullptr; // Clear List
    QPushButton* PushButton5 = nullptr; // Load Sample/Example Locations
    QGroupBox* Frame2 = nullptr;        // Zoom Options
    QLineEdit* Text2 = nullptr;
    QScrollBar* HScroll1 = nullptr;
    QGroupBox* Frame3 = nullptr; // JPG Image Quality
    QSlider* Slider1 = nullptr;
    QGroupBox* Frame1 = nullptr; // Save Results To This Folder
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton2 = nullptr;  // "..."
    QPushButton* PushButton17 = nullptr; // Start Savings As JPG
    TextProgressBar* ProgressBar1 = nullptr;

    // Components without a surface, bound to the platform.
    ImageFormat& PicFormat321;
    Network& Inet1;
    Dialogs& CommonDialog1;
    Skin& SkinFramework1;

    LocationList& locations() { return *m_locations; }
    Platform& platform() { return m_platform; }

    PointerShape pointerShape() const { return m_pointer; }
    void setPointerShape(PointerShape shape);
    bool hasCustomPointer() const { return m_customPointer.has_value(); }

    // Start-up and shut-down.
    void Form_Load();
    // Saves the list; false when it could not be saved and the close should wait (once). A
    // saved list that could not be read at start-up is left as it is: the window's list is
    // kept beside it instead.
    bool Form_QueryUnload();
    void Form_Unload(); // ends the program

    // Guarded handlers.
    void PushButton1_Click();  // Clear List
    void PushButton2_Click();  // choose the output folder
    void PushButton3_Click();  // load list files
    void PushButton4_Click();  // Help
    void PushButton5_Click();  // samples
    void PushButton6_Click();  // add one location
    void PushButton17_Click(); // capture run

    // Unguarded handlers.
    void ListView1_DblClick();
    void Text1_Change();
    void Text2_Change();
    void HScroll1_Change();
    void Slider1_Click();

    // Work that must be undone if the program ends in the middle of it (a capture run's
    // work files); run by Form_Unload before the program ends. It must not yield: no other
    // handler may run once the close has gone ahead.
    void setEndHook(std::function<void()> hook) { m_endHook = std::move(hook); }

    // The map service the capture run asks; tests point it at a server of their own.
    const QString& mapBaseUrl() const { return m_mapBaseUrl; }
    void setMapBaseUrl(const QString& url) { m_mapBaseUrl = url; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    // Runs an unguarded handler: a failure there never ends the program. The first failure
    // of each handler is shown once; repeats (say, one per keystroke) are not. Inside
    // setBoxText the failure belongs to the guarded statement instead.
    void unguarded(const char* handler, const std::function<void()>& body);
    // Sets a box's text from a guarded statement. The box's change handler runs inside this
    // call, so its failure is the statement's: thrown here, once Qt has finished the change.
    void setBoxText(QLineEdit* box, const QString& text);
    // The pointer follows the control under it (a point of the window), not the widget that
    // an event happens to reach: a move that a button ignores travels on to its parent.
    void hoverAt(QPoint pos);
    void hover(PointerShape shape);
    // Ends a close that was refused once already, or holds it with the failure and a warning.
    bool holdCloseOnce(const QString& failure, const QString& warning);

    Platform& m_platform;
    LocationList* m_locations = nullptr;
    PointerShape m_pointer = PointerShape::Ordinary;
    std::optional<QCursor> m_customPointer;
    // Every control; those with a hover handler hold the shape it sets.
    QHash<const QWidget*, std::optional<PointerShape>> m_hoverShapes;
    QSet<QString> m_reportedUnguarded;
    bool m_inGuardedStatement = false;
    std::optional<QString> m_calledFailure;
    std::function<void()> m_endHook;
    bool m_listSaveRefused = false;
    bool m_savedListUnread = false;
    bool m_sliderActed = false; // the slider moved, or tried to, in the event in hand
    QString m_mapBaseUrl = QString::fromUtf8(BuildConfig::MapBaseUrl);
    bool m_captureRunning = false;

    friend class Form1Access; // tests
};
