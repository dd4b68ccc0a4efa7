#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

#include <algorithm>
#include <cmath>

// The icons live in a static library: nothing references its resource
// initialiser, so it is pulled in by hand (outside any namespace, as Qt requires).
static void initWindowIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace {

// The layout is kept in twips (15 to the pixel at 96 dots per inch) so each
// control's place reads as stored; a pixel value that is not whole is rounded to
// the nearest pixel.
constexpr int pixels(int twips) {
    return (twips + 7) / 15;
}

QRect toPixels(const QRect& twips) {
    return {pixels(twips.x()), pixels(twips.y()), pixels(twips.width()), pixels(twips.height())};
}

// Client area of the window, 6450 x 2955 twips.
constexpr int clientWidth = pixels(6450);
constexpr int clientHeight = pixels(2955);

const QColor windowColour(192, 192, 255);
const QColor dashColour(0, 0, 0);

// Fallbacks for a palette whose window and base colours are the same: the
// field with the focus must still stand out.
const QColor fallbackInactive(212, 208, 200);
const QColor fallbackActive(255, 255, 255);

QFont sizedFont(const QString& family, qreal points, bool bold = false) {
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont entryFont() {
    return sizedFont(QStringLiteral("MS Sans Serif"), 9.75);
}

QFont dotFont() {
    return sizedFont(QStringLiteral("Arial"), 9.75);
}

QFont statusFont() {
    return sizedFont(QStringLiteral("MS Sans Serif"), 8.25, true);
}

// The designed fonts are not found on every desktop, and a stand-in is often
// wider. Rather than let a caption or an octet be cut off, narrow the font and
// then take the largest size, in quarter points, at which the widest text the
// control shows fits. A text's width grows with the size, nearly in
// proportion: the size is worked out from one measurement and then checked,
// since each size measured loads a font of its own and the window's start
// waits for every one.
void fitFont(QWidget* widget, const QString& widest, int room) {
    QFont font = widget->font();
    const auto width = [&](qreal points) {
        font.setPointSizeF(points);
        return QFontMetrics(font).horizontalAdvance(widest);
    };
    const qreal designed = font.pointSizeF();
    if (width(designed) <= room)
        return;
    font.setStretch(QFont::SemiCondensed);
    constexpr qreal step = 0.25;
    constexpr qreal smallest = 6.0;
    const int narrowed = width(designed);
    qreal points = designed;
    if (narrowed > room) {
        points = std::max(smallest, std::floor(designed * room / narrowed / step) * step);
        while (points + step < designed && width(points + step) <= room)
            points += step;
        while (points > smallest && width(points) > room)
            points -= step;
    }
    font.setPointSizeF(points);
    widget->setFont(font);
}

// Where one control of a group had to be narrowed to fit, the whole group
// takes that font, so that no caption or entry row reads larger than the next.
template <typename Controls> void shareNarrowestFont(const Controls& controls) {
    const auto width = [](const QFont& font) {
        return QFontMetrics(font).horizontalAdvance(QStringLiteral("0123456789 Address"));
    };
    QFont narrowest = controls.front()->font();
    for (const QWidget* control : controls) {
        if (width(control->font()) < width(narrowest))
            narrowest = control->font();
    }
    for (QWidget* control : controls)
        control->setFont(narrowest);
}

// Room for text inside an entry field, after its frame and inner margins.
int textRoom(QLineEdit* field) {
    QStyleOptionFrame option;
    option.initFrom(field);
    option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
    const QRect contents = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    constexpr int innerMargins = 2 * 2; // the line edit's own margins on either side
    constexpr int caret = 1;
    return contents.width() - innerMargins - caret;
}

struct EntryRow {
    int array;
    int count;
    std::array<int, 6> lefts;
    std::array<int, 6> tops;
    int width;
    std::array<const char*, 6> texts;
    int maxLength;
};

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Ethernet Adaptor IP Configuration"));

    // Labels and dots inherit the window colour; the entry fields start in it too
    // until the window's logic recolours them when it loads.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, windowColour);
    pal.setColor(QPalette::Base, windowColour);
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(clientWidth, clientHeight);

    buildCaptions();
    buildEntries();
    buildDots();
    buildDashes();
    buildButtons();
    buildHiddenControls();
    buildStatusBar();
    buildFindAction();
    setKeyboardOrder();
}

QIcon MainWindow::applicationIcon() {
    initWindowIcons();
    // Every size drawn for the desktop, so that a title bar, a task switcher
    // or a dock, on a scaled screen too, picks a drawn size instead of
    // stretching a small one. Each is read as what it is, PNG: left to find
    // the format itself, the image reader first loads every image-format
    // plugin installed: JPEG, GIF, ICO ...
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(QStringLiteral(":/icons/%1.png").arg(side), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The icon follows the first frame instead of holding it up. On X11 the
    // window hands every size of its icon to the window manager, unpacked,
    // as it is mapped: reading the drawings (the image reader's first use
    // alone takes some milliseconds) and handing over the dock's large sizes
    // made the start wait, and took a megabyte of passing memory. Set once
    // the window is drawn, the icon reaches the window manager a moment
    // later, for the window and for its message boxes. Given to the
    // application only, it reaches the window, which has none of its own,
    // in one handover rather than two.
    if (event->type() == QEvent::Paint && !m_iconQueued) {
        m_iconQueued = true;
        QTimer::singleShot(0, this, [] { QApplication::setWindowIcon(applicationIcon()); });
    }
    return handled;
}

QLineEdit* MainWindow::entry(int position) const {
    if (position < 0 || position >= entryCount)
        return nullptr;
    return m_entries[static_cast<std::size_t>(position)];
}

void MainWindow::setFieldColour(QLineEdit* field, FieldColour colour) {
    if (field == nullptr)
        return;
    QPalette pal = field->palette();
    pal.setColor(QPalette::Base, fieldColour(colour));
    field->setPalette(pal);
}

QColor MainWindow::fieldColour(FieldColour colour) const {
    // The desktop's colours, not the window's own light blue.
    const QPalette desktop = QApplication::palette();
    const QColor active = desktop.color(QPalette::Base);
    QColor inactive = desktop.color(QPalette::Window);
    if (inactive == active)
        inactive = desktop.color(QPalette::Button);
    if (inactive == active)
        return colour == FieldColour::Active ? fallbackActive : fallbackInactive;
    return colour == FieldColour::Active ? active : inactive;
}

QLabel* MainWindow::addLabel(const char* name, const QString& text, const QRect& twips) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAutoFillBackground(true);
    label->setGeometry(toPixels(twips));
    fitFont(label, text, label->width());
    return label;
}

QLineEdit* MainWindow::addEntry(const char* name, const QString& text, const QRect& twips, int maxLength) {
    auto* field = new QLineEdit(this);
    field->setObjectName(QLatin1String(name));
    field->setFont(entryFont());
    if (maxLength > 0)
        field->setMaxLength(maxLength);
    field->setText(text);
    field->setGeometry(toPixels(twips));
    fitFont(field, maxLength == 2 ? QStringLiteral("DD") : QStringLiteral("255"), textRoom(field));
    return field;
}

void MainWindow::buildCaptions() {
    QLabel* captions[] = {
        addLabel("macCaption", QStringLiteral("MAC Address (ex. 00-80-a3-61-63-dd)"), {315, 345, 2835, 270}),
        addLabel("ipCaption", QStringLiteral("IP Address (ex. 201.23.12.82)"), {315, 770, 2670, 285}),
        addLabel("maskCaption", QStringLiteral("Subnet Mask (ex. 255.255.255.0)"), {315, 1210, 2670, 285}),
        addLabel("gatewayCaption", QStringLiteral("Gateway (ex. 201.23.12.2)"), {315, 1650, 2670, 285}),
    };
    shareNarrowestFont(std::to_array(captions));
}

void MainWindow::buildEntries() {
    // MAC: one octet per field, two hex digits at most. The mask and gateway
    // rows start with a typical class C mask and no gateway.
    const EntryRow rows[] = {
        {1,
         6,
         {3240, 3765, 4275, 4800, 5310, 5835},
         {330, 330, 330, 330, 330, 330},
         400,
         {"", "", "", "", "", ""},
         2},
        {2, 4, {3240, 3735, 4230, 4725}, {760, 760, 760, 760}, 360, {"", "", "", ""}, 0},
        {3, 4, {3240, 3735, 4215, 4710}, {1190, 1185, 1185, 1185}, 360, {"255", "255", "255", "0"}, 0},
        {4, 4, {3240, 3735, 4215, 4710}, {1620, 1620, 1620, 1620}, 360, {"0", "0", "0", "0"}, 0},
    };
    std::size_t position = 0;
    for (const EntryRow& row : rows) {
        for (std::size_t index = 0; index < static_cast<std::size_t>(row.count); ++index) {
            static const char* const rowNames[] = {"", "mac", "ip", "mask", "gateway"};
            const QByteArray name =
                QStringLiteral("%1%2").arg(QLatin1String(rowNames[row.array])).arg(index).toLatin1();
            const QRect twips(row.lefts[index], row.tops[index], row.width, 260);
            m_entries[position++] =
                addEntry(name.constData(), QLatin1String(row.texts[index]), twips, row.maxLength);
        }
    }
    // The address fields are narrower than the MAC fields: "255" decides the
    // size of all eighteen.
    shareNarrowestFont(m_entries);
}

void MainWindow::buildDots() {
    struct Dot {
        const char* name;
        int left;
        int top;
    };
    const Dot dots[] = {
        {"ipDot1", 3645, 795},       {"ipDot2", 4140, 795},       {"ipDot3", 4635, 795},
        {"maskDot1", 3645, 1215},    {"maskDot2", 4125, 1215},    {"maskDot3", 4605, 1215},
        {"gatewayDot1", 3645, 1665}, {"gatewayDot2", 4125, 1665}, {"gatewayDot3", 4605, 1665},
    };
    for (const Dot& dot : dots)
        addLabel(dot.name, QStringLiteral("."), {dot.left, dot.top, 90, 240})->setFont(dotFont());
}

void MainWindow::buildDashes() {
    // The "-" marks between the MAC fields, one in each gap. Their array indexes
    // do not follow their order on screen.
    struct Dash {
        const char* name;
        int left;
    };
    const Dash dashes[] = {
        {"macDash1", 3675}, {"macDash2", 4200}, {"macDash3", 4710}, {"macDash4", 5235}, {"macDash5", 5745},
    };
    for (const Dash& dash : dashes) {
        auto* line = new QFrame(this);
        line->setObjectName(QLatin1String(dash.name));
        line->setFrameShape(QFrame::NoFrame);
        QPalette pal = line->palette();
        pal.setColor(QPalette::Window, dashColour);
        line->setPalette(pal);
        line->setAutoFillBackground(true);
        line->setGeometry(pixels(dash.left), pixels(435), pixels(60), 1);
    }
}

void MainWindow::buildButtons() {
    m_setup = new QPushButton(QStringLiteral("Setup"), this);
    m_setup->setObjectName(QStringLiteral("setupButton"));
    m_setup->setGeometry(toPixels({3120, 2145, 1530, 405}));

    // "&Exit": Alt+E clicks it while it is enabled.
    m_exit = new QPushButton(QStringLiteral("&Exit"), this);
    m_exit->setObjectName(QStringLiteral("exitButton"));
    m_exit->setGeometry(toPixels({4800, 2145, 1530, 405}));
}

void MainWindow::buildHiddenControls() {
    // The connection log: its top edge reaches into the status bar's band, the
    // rest lies below the client area. Tab leaves it rather than being typed into
    // it, so the keys still reach the controls after it.
    m_transcriptBox = new QPlainTextEdit(QStringLiteral("Text5"), this);
    m_transcriptBox->setObjectName(QStringLiteral("transcript"));
    m_transcriptBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_transcriptBox->setTabChangesFocus(true);
    m_transcriptBox->setGeometry(toPixels({300, 2820, 5970, 1455}));

    // Sends the test message to the sign; wholly below the client area.
    m_sendTest = new QPushButton(QStringLiteral("Send Test"), this);
    m_sendTest->setObjectName(QStringLiteral("sendTestButton"));
    m_sendTest->setGeometry(toPixels({2835, 4395, 915, 345}));
}

void MainWindow::buildStatusBar() {
    m_status = new QStatusBar(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setSizeGripEnabled(false);
    m_status->setFont(statusFont());
    // Opaque, in the desktop's colour, and above the connection log, so the
    // strip of the log inside the bar's band is never drawn.
    QPalette pal = m_status->palette();
    pal.setColor(QPalette::Window, QApplication::palette().color(QPalette::Window));
    m_status->setPalette(pal);
    m_status->setAutoFillBackground(true);
    m_status->setGeometry(toPixels({0, 2625, 6450, 330}));
    m_status->raise();

    // Inside the bar, over its top edge, clear of the text drawn below it.
    m_progress = new QProgressBar(m_status);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setGeometry(0, 0, m_status->width(), 4);
    m_progress->hide();
}

void MainWindow::buildFindAction() {
    // An action, not a control: the window's layout stays as it is.
    m_find = new QAction(QStringLiteral("Find adaptors\u2026"), this);
    m_find->setObjectName(QStringLiteral("findAdaptors"));
    m_find->setShortcut(QKeySequence::Find);
    m_find->setShortcutContext(Qt::WindowShortcut);
    addAction(m_find);
    m_details = new QAction(QStringLiteral("Details\u2026"), this);
    m_details->setObjectName(QStringLiteral("showDetails"));
    m_details->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    m_details->setShortcutContext(Qt::WindowShortcut);
    addAction(m_details);
    // Right-click on the window, its captions or its status bar offers both.
    setContextMenuPolicy(Qt::ActionsContextMenu);
    for (int position = 0; position < 6; ++position) {
        QLineEdit* field = m_entries[static_cast<std::size_t>(position)];
        field->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(field, &QWidget::customContextMenuRequested, this, [this, field](const QPoint& at) {
            QMenu* menu = macContextMenu(field);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(field->mapToGlobal(at));
        });
    }
}

QMenu* MainWindow::macContextMenu(QLineEdit* field) {
    QMenu* menu = field->createStandardContextMenu();
    menu->setObjectName(QStringLiteral("macContextMenu"));
    menu->addSeparator();
    menu->addAction(m_find);
    menu->addAction(m_details);
    return menu;
}

void MainWindow::setKeyboardOrder() {
    QWidget* previous = nullptr;
    const auto chain = [&previous](QWidget* next) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (QLineEdit* field : m_entries)
        chain(field);
    chain(m_setup);
    chain(m_transcriptBox);
    chain(m_sendTest);
    chain(m_exit);
}
