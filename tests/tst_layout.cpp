#include "app/Form1Window.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegion>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <memory>

// The window as it opens: where each control sits, what it shows, and how the
// keyboard moves through it. Positions are in pixels of the client area.
class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void geometry_data();
    void geometry();
    void initialText_data();
    void initialText();
    void accessors_data();
    void accessors();
    void fonts_data();
    void fonts();
    void textsFit_data();
    void textsFit();
    void typedLength_data();
    void typedLength();
    void fixedSize();
    void frameHints_data();
    void frameHints();
    void hiddenControls_data();
    void hiddenControls();
    void tabOrder_data();
    void tabOrder();
    void exitAccessKey_data();
    void exitAccessKey();
    void background_data();
    void background();
    void fieldColoursDiffer();
    void setFieldColour_data();
    void setFieldColour();
    void icon_data();
    void icon();

private:
    [[nodiscard]] QWidget* control(const QString& name) const;
    [[nodiscard]] QColor sampledBackground(QWidget* widget) const;

    std::unique_ptr<Form1Window> m_window;
};

QWidget* TestLayout::control(const QString& name) const {
    return m_window->findChild<QWidget*>(name);
}

// A pixel clear of the text: inside the frame near the right edge of a short
// entry; in the bottom right corner of a caption, which may fill its width.
QColor TestLayout::sampledBackground(QWidget* widget) const {
    const QImage image = widget->grab().toImage();
    if (qobject_cast<QLabel*>(widget))
        return image.pixelColor(image.width() - 1, image.height() - 1);
    return image.pixelColor(image.width() - 4, image.height() / 2);
}

void TestLayout::initTestCase() {
    m_window = std::make_unique<Form1Window>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestLayout::cleanupTestCase() {
    m_window.reset();
}

void TestLayout::geometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("label_mac_caption") << "Label1" << QRect(21, 23, 189, 18);
    QTest::newRow("label_ip_caption") << "Label2" << QRect(21, 51, 178, 19);
    QTest::newRow("label_mask_caption") << "Label3" << QRect(21, 81, 178, 19);
    QTest::newRow("label_gateway_caption") << "Label10" << QRect(21, 110, 178, 19);

    QTest::newRow("entry_text1_0") << "Text1_0" << QRect(216, 22, 27, 17);
    QTest::newRow("entry_text1_1") << "Text1_1" << QRect(251, 22, 27, 17);
    QTest::newRow("entry_text1_2") << "Text1_2" << QRect(285, 22, 27, 17);
    QTest::newRow("entry_text1_3") << "Text1_3" << QRect(320, 22, 27, 17);
    QTest::newRow("entry_text1_4") << "Text1_4" << QRect(354, 22, 27, 17);
    QTest::newRow("entry_text1_5") << "Text1_5" << QRect(389, 22, 27, 17);
    QTest::newRow("entry_text2_0") << "Text2_0" << QRect(216, 51, 24, 17);
    QTest::newRow("entry_text2_1") << "Text2_1" << QRect(249, 51, 24, 17);
    QTest::newRow("entry_text2_2") << "Text2_2" << QRect(282, 51, 24, 17);
    QTest::newRow("entry_text2_3") << "Text2_3" << QRect(315, 51, 24, 17);
    // The first mask field sits 5 twips lower than the others: the same pixel row.
    QTest::newRow("entry_text3_0") << "Text3_0" << QRect(216, 79, 24, 17);
    QTest::newRow("entry_text3_1") << "Text3_1" << QRect(249, 79, 24, 17);
    QTest::newRow("entry_text3_2") << "Text3_2" << QRect(281, 79, 24, 17);
    QTest::newRow("entry_text3_3") << "Text3_3" << QRect(314, 79, 24, 17);
    QTest::newRow("entry_text4_0") << "Text4_0" << QRect(216, 108, 24, 17);
    QTest::newRow("entry_text4_1") << "Text4_1" << QRect(249, 108, 24, 17);
    QTest::newRow("entry_text4_2") << "Text4_2" << QRect(281, 108, 24, 17);
    QTest::newRow("entry_text4_3") << "Text4_3" << QRect(314, 108, 24, 17);

    QTest::newRow("dot_ip_1") << "Label4" << QRect(243, 53, 6, 16);
    QTest::newRow("dot_ip_2") << "Label5" << QRect(276, 53, 6, 16);
    QTest::newRow("dot_ip_3") << "Label6" << QRect(309, 53, 6, 16);
    QTest::newRow("dot_mask_1") << "Label7" << QRect(243, 81, 6, 16);
    QTest::newRow("dot_mask_2") << "Label8" << QRect(275, 81, 6, 16);
    QTest::newRow("dot_mask_3") << "Label9" << QRect(307, 81, 6, 16);
    QTest::newRow("dot_gateway_1") << "Label11" << QRect(243, 111, 6, 16);
    QTest::newRow("dot_gateway_2") << "Label12" << QRect(275, 111, 6, 16);
    QTest::newRow("dot_gateway_3") << "Label13" << QRect(307, 111, 6, 16);

    // Left to right the dashes are Line1 0, 2, 1, 3, 4.
    QTest::newRow("dash_gap_1_line1_0") << "Line1_0" << QRect(245, 29, 4, 1);
    QTest::newRow("dash_gap_2_line1_2") << "Line1_2" << QRect(280, 29, 4, 1);
    QTest::newRow("dash_gap_3_line1_1") << "Line1_1" << QRect(314, 29, 4, 1);
    QTest::newRow("dash_gap_4_line1_3") << "Line1_3" << QRect(349, 29, 4, 1);
    QTest::newRow("dash_gap_5_line1_4") << "Line1_4" << QRect(383, 29, 4, 1);

    QTest::newRow("button_setup") << "SetupIP" << QRect(208, 143, 102, 27);
    QTest::newRow("button_exit") << "cmdExit" << QRect(320, 143, 102, 27);
    QTest::newRow("status_bar") << "status" << QRect(0, 175, 430, 22);
    QTest::newRow("hidden_text5") << "Text5" << QRect(20, 188, 398, 97);
    QTest::newRow("hidden_command1") << "Command1" << QRect(189, 293, 61, 23);
}

// A control misplaced, missized or missing (a wrong name or position).
void TestLayout::geometry() {
    QFETCH(QString, name);
    QFETCH(QRect, expected);

    QWidget* widget = control(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->parentWidget(), m_window.get());
    QCOMPARE(widget->geometry(), expected);
    QVERIFY(widget->isVisible());
}

void TestLayout::initialText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("label_mac_caption") << "Label1"
                                       << "MAC Address (ex. 00-80-a3-61-63-dd)";
    QTest::newRow("label_ip_caption") << "Label2"
                                      << "IP Address (ex. 201.23.12.82)";
    QTest::newRow("label_mask_caption") << "Label3"
                                        << "Subnet Mask (ex. 255.255.255.0)";
    QTest::newRow("label_gateway_caption") << "Label10"
                                           << "Gateway (ex. 201.23.12.2)";
    QTest::newRow("dot_ip_1") << "Label4"
                              << ".";
    QTest::newRow("dot_mask_2") << "Label8"
                                << ".";
    QTest::newRow("dot_gateway_3") << "Label13"
                                   << ".";

    QTest::newRow("entry_mac_empty_0") << "Text1_0"
                                       << "";
    QTest::newRow("entry_mac_empty_5") << "Text1_5"
                                       << "";
    QTest::newRow("entry_ip_empty_0") << "Text2_0"
                                      << "";
    QTest::newRow("entry_ip_empty_3") << "Text2_3"
                                      << "";
    QTest::newRow("entry_mask_0") << "Text3_0"
                                  << "255";
    QTest::newRow("entry_mask_1") << "Text3_1"
                                  << "255";
    QTest::newRow("entry_mask_2") << "Text3_2"
                                  << "255";
    QTest::newRow("entry_mask_3") << "Text3_3"
                                  << "0";
    QTest::newRow("entry_gateway_0") << "Text4_0"
                                     << "0";
    QTest::newRow("entry_gateway_1") << "Text4_1"
                                     << "0";
    QTest::newRow("entry_gateway_2") << "Text4_2"
                                     << "0";
    QTest::newRow("entry_gateway_3") << "Text4_3"
                                     << "0";

    QTest::newRow("button_setup") << "SetupIP"
                                  << "Setup";
    QTest::newRow("button_exit") << "cmdExit"
                                 << "&Exit";
    QTest::newRow("button_send_test") << "Command1"
                                      << "Send Test";
    QTest::newRow("log_text5") << "Text5"
                               << "Text5";
    QTest::newRow("status_empty") << "status"
                                  << "";
    QTest::newRow("window_title") << "Form1"
                                  << "Ethernet Adaptor IP Configuration";
}

// A caption with a wrong text, or an entry row opening with the wrong octets.
void TestLayout::initialText() {
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QString actual;
    if (name == QLatin1String("Form1"))
        actual = m_window->windowTitle();
    else if (auto* label = m_window->findChild<QLabel*>(name))
        actual = label->text();
    else if (auto* field = m_window->findChild<QLineEdit*>(name))
        actual = field->text();
    else if (auto* button = m_window->findChild<QPushButton*>(name))
        actual = button->text();
    else if (auto* log = m_window->findChild<QPlainTextEdit*>(name))
        actual = log->toPlainText();
    else if (auto* bar = m_window->findChild<QStatusBar*>(name))
        actual = bar->currentMessage();
    else
        QFAIL(qPrintable(QStringLiteral("no control named %1").arg(name)));
    QCOMPARE(actual, expected);
}

void TestLayout::accessors_data() {
    QTest::addColumn<QString>("accessor");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("expected");

    QTest::newRow("entry_below_range") << "entry" << -1 << "";
    QTest::newRow("entry_text1_0") << "entry" << 0 << "Text1_0";
    QTest::newRow("entry_text1_5") << "entry" << 5 << "Text1_5";
    QTest::newRow("entry_text2_0") << "entry" << 6 << "Text2_0";
    QTest::newRow("entry_text2_3") << "entry" << 9 << "Text2_3";
    QTest::newRow("entry_text3_0") << "entry" << 10 << "Text3_0";
    QTest::newRow("entry_text3_3") << "entry" << 13 << "Text3_3";
    QTest::newRow("entry_text4_0") << "entry" << 14 << "Text4_0";
    QTest::newRow("entry_text4_3") << "entry" << 17 << "Text4_3";
    QTest::newRow("entry_above_range") << "entry" << 18 << "";
    QTest::newRow("button_setup") << "setupButton" << 0 << "SetupIP";
    QTest::newRow("button_exit") << "exitButton" << 0 << "cmdExit";
    QTest::newRow("button_send_test") << "sendTestButton" << 0 << "Command1";
    QTest::newRow("log_text5") << "text5" << 0 << "Text5";
    QTest::newRow("status_bar") << "statusBar" << 0 << "status";
}

// The window's logic reaching the wrong field or button through the accessors.
void TestLayout::accessors() {
    QFETCH(QString, accessor);
    QFETCH(int, position);
    QFETCH(QString, expected);

    QWidget* actual = nullptr;
    if (accessor == QLatin1String("entry"))
        actual = m_window->entry(position);
    else if (accessor == QLatin1String("setupButton"))
        actual = m_window->setupButton();
    else if (accessor == QLatin1String("exitButton"))
        actual = m_window->exitButton();
    else if (accessor == QLatin1String("sendTestButton"))
        actual = m_window->sendTestButton();
    else if (accessor == QLatin1String("text5"))
        actual = m_window->text5();
    else if (accessor == QLatin1String("statusBar"))
        actual = m_window->statusBar();
    else
        QFAIL(qPrintable(accessor));

    if (expected.isEmpty()) {
        QCOMPARE(actual, nullptr);
        return;
    }
    QVERIFY(actual != nullptr);
    QCOMPARE(actual->objectName(), expected);
}

void TestLayout::fonts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");

    const QFont standard = QApplication::font();
    QTest::newRow("entry_text1_0") << "Text1_0"
                                   << "MS Sans Serif" << 9.75 << false;
    QTest::newRow("entry_text2_3") << "Text2_3"
                                   << "MS Sans Serif" << 9.75 << false;
    QTest::newRow("entry_text3_0") << "Text3_0"
                                   << "MS Sans Serif" << 9.75 << false;
    QTest::newRow("entry_text4_3") << "Text4_3"
                                   << "MS Sans Serif" << 9.75 << false;
    QTest::newRow("dot_ip_1") << "Label4"
                              << "Arial" << 9.75 << false;
    QTest::newRow("dot_mask_2") << "Label8"
                                << "Arial" << 9.75 << false;
    QTest::newRow("dot_gateway_3") << "Label13"
                                   << "Arial" << 9.75 << false;
    QTest::newRow("status_bar") << "status"
                                << "MS Sans Serif" << 8.25 << true;
    QTest::newRow("label_mac_caption_default")
        << "Label1" << standard.family() << standard.pointSizeF() << standard.bold();
    QTest::newRow("label_gateway_caption_default")
        << "Label10" << standard.family() << standard.pointSizeF() << standard.bold();
    QTest::newRow("button_setup_default")
        << "SetupIP" << standard.family() << standard.pointSizeF() << standard.bold();
}

// A field or dot in the wrong font, or the captions picking up the fields' font.
// Where the designed font is wider on this desktop the window narrows it, so
// the designed size is an upper bound.
void TestLayout::fonts() {
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(bool, bold);

    QWidget* widget = control(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->font().family(), family);
    QVERIFY2(widget->font().pointSizeF() <= points, qPrintable(QString::number(widget->font().pointSizeF())));
    QVERIFY2(widget->font().pointSizeF() >= 6.0, qPrintable(QString::number(widget->font().pointSizeF())));
    QCOMPARE(widget->font().bold(), bold);
}

void TestLayout::textsFit_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("widest");
    QTest::addColumn<int>("margins"); // frame and inner margins of an entry field
    QTest::newRow("caption_mac") << "Label1"
                                 << "MAC Address (ex. 00-80-a3-61-63-dd)" << 0;
    QTest::newRow("caption_ip") << "Label2"
                                << "IP Address (ex. 201.23.12.82)" << 0;
    QTest::newRow("caption_mask") << "Label3"
                                  << "Subnet Mask (ex. 255.255.255.0)" << 0;
    QTest::newRow("caption_gateway") << "Label10"
                                     << "Gateway (ex. 201.23.12.2)" << 0;
    // An entry's frame and inner margins take 3 px a side, and the caret one more.
    QTest::newRow("mask_octet_255") << "Text3_0"
                                    << "255" << 7;
    QTest::newRow("ip_octet_254") << "Text2_3"
                                  << "254" << 7;
    QTest::newRow("mac_octet_dd") << "Text1_5"
                                  << "DD" << 7;
}

// A caption or octet cut off because the desktop's stand-in font is wider than
// the designed one (the mask row once showed ":55").
void TestLayout::textsFit() {
    QFETCH(QString, name);
    QFETCH(QString, widest);
    QFETCH(int, margins);
    QWidget* widget = control(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    const int needed = QFontMetrics(widget->font()).horizontalAdvance(widest);
    QVERIFY2(
        needed <= widget->width() - margins,
        qPrintable(QStringLiteral("%1 px needed, %2 px of room").arg(needed).arg(widget->width() - margins)));
}

void TestLayout::typedLength_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("mac_first_cut_to_two") << "Text1_0"
                                          << "00a"
                                          << "00";
    QTest::newRow("mac_last_cut_to_two") << "Text1_5"
                                         << "ddd"
                                         << "dd";
    QTest::newRow("mac_two_kept") << "Text1_3"
                                  << "a3"
                                  << "a3";
    QTest::newRow("ip_three_digits_kept") << "Text2_0"
                                          << "201"
                                          << "201";
    QTest::newRow("mask_three_digits_kept") << "Text3_3"
                                            << "255"
                                            << "255";
    QTest::newRow("gateway_three_digits_kept") << "Text4_3"
                                               << "254"
                                               << "254";
}

// A MAC field accepting a third character, or the octet fields cut to two.
void TestLayout::typedLength() {
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    auto* field = m_window->findChild<QLineEdit*>(name);
    QVERIFY2(field != nullptr, qPrintable(name));
    const QString before = field->text();
    field->clear();
    QTest::keyClicks(field, typed);
    const QString actual = field->text();
    field->setText(before);
    QCOMPARE(actual, expected);
}

// A window the user can resize, or a size grip on the status bar.
void TestLayout::fixedSize() {
    QCOMPARE(m_window->size(), QSize(430, 197));
    QCOMPARE(m_window->minimumSize(), QSize(430, 197));
    QCOMPARE(m_window->maximumSize(), QSize(430, 197));
    m_window->resize(600, 400);
    QCOMPARE(m_window->size(), QSize(430, 197));
    QVERIFY(!m_window->statusBar()->isSizeGripEnabled());
}

void TestLayout::frameHints_data() {
    QTest::addColumn<int>("hint");
    QTest::addColumn<bool>("present");

    QTest::newRow("hint_window") << int(Qt::Window) << true;
    QTest::newRow("hint_customised") << int(Qt::CustomizeWindowHint) << true;
    QTest::newRow("hint_title") << int(Qt::WindowTitleHint) << true;
    QTest::newRow("hint_close") << int(Qt::WindowCloseButtonHint) << true;
    QTest::newRow("hint_no_minimise") << int(Qt::WindowMinimizeButtonHint) << false;
    QTest::newRow("hint_no_maximise") << int(Qt::WindowMaximizeButtonHint) << false;
    QTest::newRow("hint_no_frameless") << int(Qt::FramelessWindowHint) << false;
}

// A frame that offers minimise or maximise, or lacks its title or close button.
void TestLayout::frameHints() {
    QFETCH(int, hint);
    QFETCH(bool, present);

    QCOMPARE(m_window->windowFlags().testFlag(Qt::WindowType(hint)), present);
}

void TestLayout::hiddenControls_data() {
    QTest::addColumn<QString>("name");

    QTest::newRow("hidden_command1") << "Command1";
    QTest::newRow("hidden_text5") << "Text5";
}

// The log or the Send Test button showing inside the window (the opaque status bar covers the log).
void TestLayout::hiddenControls() {
    QFETCH(QString, name);

    QWidget* widget = control(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QWidget* bar = m_window->statusBar();
    QVERIFY(bar->autoFillBackground());

    QRegion seen = QRegion(widget->geometry()).intersected(m_window->rect());
    const QObjectList& siblings = m_window->children();
    if (siblings.indexOf(bar) > siblings.indexOf(widget))
        seen -= bar->geometry();
    QVERIFY2(seen.isEmpty(),
             qPrintable(QStringLiteral("%1 px^2 visible")
                            .arg(seen.boundingRect().width() * seen.boundingRect().height())));
    QVERIFY(widget->visibleRegion().isEmpty());
}

void TestLayout::tabOrder_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("backwards");

    const QStringList order = {
        "Text1_0", "Text1_1", "Text1_2", "Text1_3", "Text1_4",  "Text1_5", "Text2_0", "Text2_1",
        "Text2_2", "Text2_3", "Text3_0", "Text3_1", "Text3_2",  "Text3_3", "Text4_0", "Text4_1",
        "Text4_2", "Text4_3", "SetupIP", "Text5",   "Command1", "cmdExit",
    };
    for (qsizetype i = 0; i < order.size(); ++i) {
        const QString& from = order.at(i);
        const QString& next = order.at((i + 1) % order.size());
        QTest::addRow("tab_%s", qPrintable(from)) << from << next << false;
    }
    QTest::newRow("backtab_Text1_0_wraps") << "Text1_0"
                                           << "cmdExit" << true;
    QTest::newRow("backtab_Text2_0") << "Text2_0"
                                     << "Text1_5" << true;
    QTest::newRow("backtab_Text5") << "Text5"
                                   << "SetupIP" << true;
    QTest::newRow("backtab_cmdExit") << "cmdExit"
                                     << "Command1" << true;
}

// Tab skipping a control, stopping on a label, or typed into the log (the real key is pressed).
void TestLayout::tabOrder() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, backwards);

    QWidget* start = control(from);
    QVERIFY2(start != nullptr, qPrintable(from));
    start->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), start);

    QTest::keyClick(start, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                    backwards ? Qt::ShiftModifier : Qt::NoModifier);
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused != nullptr);
    QCOMPARE(focused->objectName(), to);
}

void TestLayout::exitAccessKey_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("clicks");

    QTest::newRow("enabled_focus_in_mac_field") << "Text1_0" << true << 1;
    QTest::newRow("enabled_focus_in_gateway_field") << "Text4_3" << true << 1;
    QTest::newRow("enabled_focus_on_setup") << "SetupIP" << true << 1;
    QTest::newRow("enabled_focus_in_log") << "Text5" << true << 1;
    QTest::newRow("disabled_focus_in_mac_field") << "Text1_0" << false << 0;
    QTest::newRow("disabled_focus_on_setup") << "SetupIP" << false << 0;
}

// Alt+E not reaching the Exit button, typed into a field, or clicking the button while disabled.
void TestLayout::exitAccessKey() {
    QFETCH(QString, focus);
    QFETCH(bool, enabled);
    QFETCH(int, clicks);

    QPushButton* exit = m_window->exitButton();
    QWidget* start = control(focus);
    QVERIFY2(start != nullptr, qPrintable(focus));
    start->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), start);
    auto* field = qobject_cast<QLineEdit*>(start);
    const QString textBefore = field != nullptr ? field->text() : QString();

    exit->setEnabled(enabled);
    QSignalSpy spy(exit, &QPushButton::clicked);
    QTest::keyClick(m_window.get(), Qt::Key_E, Qt::AltModifier);
    // The access key clicks the button animated: the click comes on its release,
    // a moment later. Wait well past it before judging a disabled button.
    if (clicks > 0)
        QTRY_COMPARE(spy.count(), clicks);
    else
        QTest::qWait(300);
    exit->setEnabled(true);

    QCOMPARE(spy.count(), clicks);
    if (field != nullptr)
        QCOMPARE(field->text(), textBefore);
}

void TestLayout::background_data() {
    QTest::addColumn<QString>("name");

    QTest::newRow("window") << "Form1";
    QTest::newRow("label_mac_caption") << "Label1";
    QTest::newRow("label_gateway_caption") << "Label10";
    QTest::newRow("dot_ip_1") << "Label4";
    QTest::newRow("entry_mac_stored") << "Text1_5";
    QTest::newRow("entry_ip_stored") << "Text2_0";
}

// The window, its captions or the not yet recoloured entry fields not in the light blue.
void TestLayout::background() {
    QFETCH(QString, name);

    QWidget* widget = name == QLatin1String("Form1") ? m_window.get() : control(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    const QColor actual = name == QLatin1String("Form1") ? widget->grab().toImage().pixelColor(5, 5)
                                                         : sampledBackground(widget);
    QCOMPARE(actual, QColor(192, 192, 255));
}

// Inactive and active fields that look alike, or melt into the window colour.
void TestLayout::fieldColoursDiffer() {
    const QColor inactive = m_window->fieldColour(FieldColour::Inactive);
    const QColor active = m_window->fieldColour(FieldColour::Active);
    QVERIFY(inactive.isValid());
    QVERIFY(active.isValid());
    QVERIFY(inactive != active);
    // Neither may melt into the window's own light blue.
    QVERIFY(inactive != QColor(192, 192, 255));
    QVERIFY(active != QColor(192, 192, 255));
}

void TestLayout::setFieldColour_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<FieldColour>("first");
    QTest::addColumn<FieldColour>("second");

    QTest::newRow("mac_inactive_then_active") << "Text1_0" << FieldColour::Inactive << FieldColour::Active;
    QTest::newRow("mac_active_then_inactive") << "Text1_5" << FieldColour::Active << FieldColour::Inactive;
    QTest::newRow("ip_active_then_inactive") << "Text2_3" << FieldColour::Active << FieldColour::Inactive;
    QTest::newRow("mask_inactive_then_active") << "Text3_0" << FieldColour::Inactive << FieldColour::Active;
    QTest::newRow("gateway_active_then_inactive")
        << "Text4_3" << FieldColour::Active << FieldColour::Inactive;
}

// A field colour set but not painted (the pixel is sampled, not the palette read).
void TestLayout::setFieldColour() {
    QFETCH(QString, name);
    QFETCH(FieldColour, first);
    QFETCH(FieldColour, second);

    auto* field = m_window->findChild<QLineEdit*>(name);
    QVERIFY2(field != nullptr, qPrintable(name));
    m_window->setupButton()->setFocus(Qt::OtherFocusReason);

    m_window->setFieldColour(field, first);
    QCOMPARE(sampledBackground(field), m_window->fieldColour(first));
    m_window->setFieldColour(field, second);
    QCOMPARE(sampledBackground(field), m_window->fieldColour(second));
}

void TestLayout::icon_data() {
    QTest::addColumn<int>("side");

    QTest::newRow("icon_16") << 16;
    QTest::newRow("icon_32") << 32;
}

// The icon missing from the resources, blank, or lacking one of its two sizes.
void TestLayout::icon() {
    QFETCH(int, side);

    const QIcon icon = m_window->windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(side, side)));
    const QImage image = icon.pixmap(QSize(side, side)).toImage();
    QCOMPARE(image.size(), QSize(side, side));
    // Drawn, not blank: a corner is clear and the middle is not.
    QCOMPARE(image.pixelColor(0, side - 1).alpha(), 0);
    QVERIFY(image.pixelColor(side / 2, side / 4).alpha() > 0);
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
