#include "app/Form1.h"

#include "BuildConfig.h"
#include "app/Guard.h"
#include "locations/LocationList.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSlider>
#include <QTreeView>

namespace {

// The design measures in twips; 15 twips make one pixel at 96 dots per inch, and Qt's
// high-DPI scaling takes it from there.
int px(int twips)
{
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

QFont arialBold(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void paintWhite(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TextProgressBar::TextProgressBar(QWidget* parent) : QProgressBar(parent)
{
    // Hundredths of a percent, so a fractional value shows as what it is.
    setRange(0, 10000);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void TextProgressBar::setText(const QString& text)
{
    m_text = text;
    // The bar's text is what a screen reader should hear, as the eye reads it.
    setAccessibleName(text);
    update();
}

void TextProgressBar::setPercent(double percent)
{
    m_percent = percent;
    setValue(qBound(0, static_cast<int>(percent * 100.0), 10000));
}

Form1::Form1(Platform& platform, QWidget* parent)
    : QWidget(parent), PicFormat321(platform.images), Inet1(platform.network),
      CommonDialog1(platform.dialogs), SkinFramework1(platform.skin), m_platform(platform),
      m_locations(new LocationList(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    buildControls();
    connectHandlers();
    // One pointer for the whole window from the start: no I-beam over the text boxes.
    unguarded("pointer", [this] { setPointerShape(PointerShape::Ordinary); });
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    setFont(arialBold(9));
    paintWhite(this);
    setFixedSize(px(8040), px(7965));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    auto button = [this](QWidget* parent, const char* name, const QString& caption, QRect geometry) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(arialBold(11.25));
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        // The platform's button-text colour on white; the text colour still follows the platform.
        QPalette palette;
        palette.setColor(QPalette::Button, Qt::white);
        b->setPalette(palette);
        m_hoverShapes.insert(b, PointerShape::Custom);
        return b;
    };
    auto frame = [this](const char* name, const QString& caption, QRect geometry) {
        auto* f = new QGroupBox(caption, this);
        f->setObjectName(QString::fromLatin1(name));
        f->setGeometry(geometry);
        paintWhite(f);
        m_hoverShapes.insert(f, PointerShape::Ordinary);
        return f;
    };

    PushButton4 = button(this, "PushButton4", QStringLiteral("Help"), twipsRect(120, 120, 7800, 405));

    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twipsRect(120, 630, 7800, 2535));
    ListView1->setModel(m_locations);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setToolTip(QStringLiteral(
        "Double-click item to remove it. Move | line to right and out of window to reveal full names."));
    m_hoverShapes.insert(ListView1, PointerShape::Ordinary);

    PushButton6 =
        button(this, "PushButton6", QStringLiteral("Add One Location"), twipsRect(120, 3250, 3840, 405));
    PushButton3 = button(this, "PushButton3", QStringLiteral("Load List Of Locations From File"),
                         twipsRect(4080, 3250, 3840, 405));
    PushButton1 = button(this, "PushButton1", QStringLiteral("Clear List"), twipsRect(120, 3760, 3840, 405));
    PushButton5 = button(this, "PushButton5", QStringLiteral("Load Sample/Example Locations"),
                         twipsRect(4080, 3760, 3840, 405));

    Frame2 = frame("Frame2", QStringLiteral("Zoom Options"), twipsRect(120, 4220, 7800, 780));
    Text2 = new QLineEdit(QStringLiteral("1"), Frame2);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(twipsRect(240, 300, 1335, 345));
    m_hoverShapes.insert(Text2, PointerShape::Ordinary);
    HScroll1 = new QScrollBar(Qt::Horizontal, Frame2);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setGeometry(twipsRect(1680, 300, 5880, 345));
    HScroll1->setRange(1, 18);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1);
    HScroll1->setValue(1);
    HScroll1->setFocusPolicy(Qt::StrongFocus);
    // A drag changes the value once, where it ends; arrows, trough and keys at once.
    HScroll1->setTracking(false);
    m_hoverShapes.insert(HScroll1, std::nullopt);

    Frame3 = frame("Frame3", QStringLiteral("JPG Image Quality"), twipsRect(120, 5070, 7800, 885));
    Slider1 = new QSlider(Qt::Horizontal, Frame3);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setGeometry(twipsRect(120, 240, 7560, 540));
    Slider1->setRange(1, 100);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setValue(85);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(5);
    Slider1->setFocusPolicy(Qt::StrongFocus);
    m_hoverShapes.insert(Slider1, std::nullopt);

    Frame1 = frame("Frame1", QStringLiteral("Save Results To This Folder"), twipsRect(120, 6030, 7800, 780));
    Text1 = new QLineEdit(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(240, 300, 6540, 345));
    m_hoverShapes.insert(Text1, PointerShape::Ordinary);
    PushButton2 = button(Frame1, "PushButton2", QStringLiteral("..."), twipsRect(6840, 300, 720, 345));

    PushButton17 =
        button(this, "PushButton17", QStringLiteral("Start Savings As JPG"), twipsRect(120, 6940, 7800, 405));

    ProgressBar1 = new TextProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twipsRect(120, 7460, 7800, 405));
    ProgressBar1->setText(QStringLiteral("Progress Bar"));
    m_hoverShapes.insert(ProgressBar1, std::nullopt);

    // Screen readers hear what the eye reads. A frame is named by its caption as Qt gives it,
    // so the quality frame's name follows its caption; the list by its column's header.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAccessibleName(b->text());
    PushButton2->setAccessibleName(QStringLiteral("Choose the output folder..."));
    ListView1->setAccessibleName(QStringLiteral("Locations"));
    connect(m_locations, &QAbstractItemModel::headerDataChanged, ListView1, [this] {
        const QString header = m_locations->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
        ListView1->setAccessibleName(header.isEmpty() ? QStringLiteral("Locations") : header);
    });
    ListView1->setAccessibleDescription(ListView1->toolTip());
    Text2->setAccessibleName(QStringLiteral("Zoom level"));
    HScroll1->setAccessibleName(QStringLiteral("Zoom level, 1 to 18"));
    Slider1->setAccessibleName(QStringLiteral("JPG quality in percent"));
    Text1->setAccessibleName(QStringLiteral("Output folder"));

    m_hoverShapes.insert(this, PointerShape::Ordinary);
    // Plain moves reach every part of a control with a hover handler (the list's header and
    // items too), and only those: over the others the shape stays as it was.
    QList<QWidget*> parts = findChildren<QWidget*>();
    parts.prepend(this);
    for (QWidget* part : std::as_const(parts)) {
        const QWidget* control = part;
        while (!m_hoverShapes.contains(control))
            control = control->parentWidget();
        if (!m_hoverShapes.value(control))
            continue;
        part->setMouseTracking(true);
        part->installEventFilter(this);
    }

    // The designed tab order; frames and the progress bar take no focus.
    const QList<QWidget*> tabOrder = {ListView1,    PushButton6, PushButton3, PushButton1,
                                      PushButton17, PushButton4, Text1,       PushButton2,
                                      HScroll1,     Text2,       PushButton5, Slider1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    for (QWidget* f : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame2),
                       static_cast<QWidget*>(Frame3), static_cast<QWidget*>(ProgressBar1)})
        f->setFocusPolicy(Qt::NoFocus);
}

void Form1::connectHandlers()
{
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton17, &QPushButton::clicked, this, &Form1::PushButton17_Click);
    connect(Text1, &QLineEdit::textChanged, this,
            [this] { unguarded("Text1_Change", [this] { Text1_Change(); }); });
    connect(Text2, &QLineEdit::textChanged, this,
            [this] { unguarded("Text2_Change", [this] { Text2_Change(); }); });
    connect(HScroll1, &QScrollBar::valueChanged, this,
            [this] { unguarded("HScroll1_Change", [this] { HScroll1_Change(); }); });
    // The slider's click handler runs at each click on it (a drag ends in one) and at each key
    // or wheel turn that acts on it, not at every value it passes through: a click where it
    // stands stores its value again, a drag stores once.
    connect(Slider1, &QAbstractSlider::actionTriggered, this, [this] { m_sliderActed = true; });
    Slider1->installEventFilter(this);
}

void Form1::unguarded(const char* handler, const std::function<void()>& body)
{
    const auto failure = FailureOf(body);
    if (!failure)
        return;
    if (m_inGuardedStatement) {
        // The first failure stops the statement; what failed after it is a consequence.
        if (!m_calledFailure)
            m_calledFailure = failure;
        return;
    }
    const QString name = QString::fromLatin1(handler);
    if (m_reportedUnguarded.contains(name))
        return;
    m_reportedUnguarded.insert(name);
    m_platform.window.messageBox(*failure, MessageStyle::Exclamation);
}

void Form1::setPointerShape(PointerShape shape)
{
    m_pointer = shape;
    m_platform.window.applyPointer(*this, shape, m_customPointer ? &*m_customPointer : nullptr);
}

void Form1::setBoxText(QLineEdit* box, const QString& text)
{
    // Qt runs the change handler inside setText; a failure must not be thrown through Qt.
    const bool outer = std::exchange(m_inGuardedStatement, true);
    const auto restore = qScopeGuard([&] { m_inGuardedStatement = outer; });
    box->setText(text);
    if (!outer)
        if (const auto failure = std::exchange(m_calledFailure, std::nullopt))
            throw PlatformError(*failure);
}

void Form1::hoverAt(QPoint pos)
{
    if (!rect().contains(pos))
        return;
    const QWidget* control = childAt(pos);
    if (!control)
        control = this;
    while (!m_hoverShapes.contains(control))
        control = control->parentWidget();
    if (const auto shape = m_hoverShapes.value(control))
        hover(*shape);
}

void Form1::hover(PointerShape shape)
{
    if (m_pointer == PointerShape::Busy || m_pointer == shape)
        return;
    setPointerShape(shape);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (watched == Slider1 &&
        (type == QEvent::MouseButtonRelease || type == QEvent::KeyPress || type == QEvent::Wheel)) {
        // The slider acts on the event first, so that the handler reads where it ended.
        m_sliderActed = false;
        static_cast<QObject*>(Slider1)->event(event);
        const bool click = type == QEvent::MouseButtonRelease
                               ? static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
                               : m_sliderActed;
        if (click)
            unguarded("Slider1_Click", [this] { Slider1_Click(); });
        return true;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && (type == QEvent::MouseMove || type == QEvent::Enter)) {
        const auto* pointer = dynamic_cast<const QSinglePointEvent*>(event);
        if (pointer)
            unguarded("pointer", [&] { hoverAt(widget->mapTo(this, pointer->position().toPoint())); });
    } else if (type == QEvent::MouseButtonDblClick && watched == ListView1->viewport() &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // A double-click anywhere on the list removes the selected location, as on an item;
        // other buttons' double-clicks are Qt's as usual.
        unguarded("ListView1_DblClick", [this] { ListView1_DblClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Held only when the list could not be saved; Form_QueryUnload lets the next close go.
    bool goAhead = false;
    unguarded("Form_QueryUnload", [&] { goAhead = Form_QueryUnload(); });
    if (!goAhead) {
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void Form1::PushButton4_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton4_Click"));
    g(100, [&] {
        m_platform.window.messageBox(
            QStringLiteral(
                "Londonderry UK or Londonderry NH USA or any other Google Maps \"search\" location is "
                "acceptable.\r\rQuestions? Please contact Team Tamberlyn at ") +
                QString::fromUtf8(BuildConfig::ContactUrl),
            MessageStyle::OkOnly);
    });
}

void Form1::PushButton1_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton1_Click"));
    g(100, [&] { m_locations->clear(); });
}

void Form1::ListView1_DblClick()
{
    removeSelected(*m_locations, *ListView1);
}
