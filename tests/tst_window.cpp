#include "FakeWindow.h"
#include "WindowFixture.h"
#include "app/DetailsDialog.h"
#include "app/FinderDialog.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

namespace {
FoundAdaptor found(const QString& mac, const QString& address, QList<int> ports) {
    const QString prefix = mac.left(6);
    return {mac, prefix == QLatin1String("00204a") ? 1 : 2, address, QStringLiteral("eth0"), true, ports};
}

// Who answers ARP at the chosen adaptor's address.
class OwnerProbe : public FakeProbe {
public:
    ArpOwner whoHas(quint32 address) override {
        asked << AddressRules::dotted(address);
        return {ArpOwner::Answered, QStringLiteral("001122334455"), {}};
    }
    QStringList asked;
};

void fillValid(WindowFixture& f, const QString& mac) {
    const QStringList m = mac.split(QLatin1Char('-'));
    for (int i = 0; i < 6; ++i)
        f.preset(QStringLiteral("mac%1").arg(i), m.at(i));
    const QStringList ip{"10", "0", "0", "5"};
    for (int i = 0; i < 4; ++i)
        f.preset(QStringLiteral("ip%1").arg(i), ip.at(i));
}
} // namespace

// The real window, real timer and real event loop, with a scripted echo probe
// so that nothing leaves this machine.
class TestWindow : public QObject {
    Q_OBJECT
private slots:
    // Catches a title not built from the version, or a timer left on at load.
    void loadedWindow() {
        WindowFixture f;
        QVERIFY(f.ready);
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Ethernet Adaptor IP Configuration v1.0.4"));
        QVERIFY(!f.binding->controller().ports.tickTimer->enabled());
        QCOMPARE(f.binding->controller().ports.tickTimer->interval(), 3000);
        QCOMPARE(f.status(), QString());
    }

    // Catches a click that blocks instead of letting the run go on in the
    // event loop, a window left locked, or a pre-check that does not end.
    void preCheckWithRealEventLoop() {
        FakeProbe probe;
        probe.answer = [](qsizetype n) { return n == 3 ? 0 : 1; }; // something answers at the third
        WindowFixture f({.probe = &probe});
        QVERIFY(f.ready);
        fillValid(f, QStringLiteral("00-80-a3-33-44-55"));
        f.binding->controller().ports.tickTimer->setInterval(10);
        bool lockedDuringWait = false;
        QTimer::singleShot(5, f.window.get(), [&] {
            lockedDuringWait = !f.window->setupButton()->isEnabled() &&
                               !f.window->exitButton()->isEnabled() && QGuiApplication::overrideCursor() &&
                               QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        });
        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QVERIFY(!f.window->setupButton()->isEnabled()); // the click returned with the run going on
        QTRY_VERIFY(f.binding->controller().result().has_value());
        QVERIFY(lockedDuringWait);
        QCOMPARE(probe.pinged.size(), 3);
        QCOMPARE(f.status(), Sequencer::kAddressExists);
        QVERIFY(f.window->setupButton()->isEnabled());
        QVERIFY(f.window->exitButton()->isEnabled());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    // Catches a message box without the application's title when none is given.
    void messageBoxDefaultTitle() {
        FakeProbe probe;
        probe.initFailures = 1;
        probe.answer = [](qsizetype) { return 0; }; // then the address answers
        WindowFixture f({.probe = &probe});
        QVERIFY(f.ready);
        fillValid(f, QStringLiteral("00-80-a3-33-44-55"));
        f.binding->controller().ports.tickTimer->setInterval(10);
        QString title;
        QString text;
        std::function<void()> closeBox = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                QTimer::singleShot(5, closeBox);
                return;
            }
            title = box->windowTitle();
            text = box->text();
            box->accept();
        };
        QTimer::singleShot(5, closeBox);
        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QTRY_COMPARE(f.status(), QStringLiteral("IP address already exists"));
        QCOMPARE(title, QStringLiteral("Netrika"));
        QVERIFY(text.startsWith(QStringLiteral("Windows Sockets for 32 bit")));
        QCOMPARE(f.status(), QStringLiteral("IP address already exists"));
    }

    // Catches a close during a wait that lets the waiting procedure go on.
    void closeDuringWaitAbandonsIt() {
        FakeProbe probe;
        WindowFixture f({.probe = &probe});
        QVERIFY(f.ready);
        fillValid(f, QStringLiteral("00-80-a3-61-63-dd"));
        f.binding->controller().ports.tickTimer->setInterval(40);
        QTimer::singleShot(60, f.window.get(), [&] { f.window->close(); });
        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY(f.binding->controller().unloaded());
        QVERIFY(probe.pinged.size() < 3);
        QCOMPARE(f.status(), SetupCommand::kInProcess);
        QVERIFY(!f.binding->controller().ports.tickTimer->enabled());
        QVERIFY(!f.window->isVisible());
    }

    // Catches a timer that restarts its period when enabled again while it
    // runs: the pre-check arms it on every pass of its wait, and the first
    // tick would then never come.
    void enablingRunningTimerKeepsPeriod() {
        int ticks = 0;
        TickTimer timer([&] { ++ticks; });
        timer.setInterval(10000);
        timer.setEnabled(true);
        QTest::qWait(150);
        timer.setEnabled(true);
        QVERIFY2(timer.remainingMs() <= 9900, qPrintable(QString::number(timer.remainingMs())));
        timer.setEnabled(false);
        QVERIFY(!timer.enabled());
        QCOMPARE(ticks, 0);
    }

    // Catches the longest messages being cut off at the window's edge.
    void longStatusFits_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("gateway_message") << SetupCommand::kGatewayMessage;
        QTest::newRow("mac_message") << SetupCommand::kMacMessage;
        QTest::newRow("success_message")
            << QStringLiteral("Setup IP address is successful, reboot adaptor to take effect.");
        QTest::newRow("short_message") << QStringLiteral("IP address already exists");
    }
    void longStatusFits() {
        QFETCH(QString, message);
        WindowFixture f;
        QVERIFY(f.ready);
        f.binding->controller().ports.status->showMessage(message);
        QStatusBar* bar = f.window->statusBar();
        QCOMPARE(bar->currentMessage(), message);
        QVERIFY(QFontMetrics(bar->font()).horizontalAdvance(message) <= bar->width() - 18);
        QVERIFY(bar->font().pointSizeF() >= 6.0);
        QCOMPARE(bar->font().bold(), true);
    }

    // Catches an Exit button that does not end the program.

    void exitEndsProgram() {
        WindowFixture f;
        QVERIFY(f.ready);
        QTest::keyClick(f.window.get(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY(f.binding->controller().unloaded()); // the access key clicks on release, a moment later
        QVERIFY(!f.window->isVisible());
    }

    void finderFillsMacFields_data() {
        QTest::addColumn<int>("choice");   // a row of the list; -1 Escape, -2 Cancel
        QTest::addColumn<bool>("holdEnd"); // the search still under way when the dialog closes
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("address");
        QTest::newRow("ok_menu_family") << 0 << false << "00204a0b1c2d"
                                        << "10.61.1.20";
        QTest::newRow("ok_arp_family") << 1 << false << "0080a36163dd"
                                       << "10.61.1.21";
        QTest::newRow("ok_chosen_while_searching") << 1 << true << "0080a36163dd"
                                                   << "10.61.1.21";
        QTest::newRow("cancel_escape") << -1 << false << QString() << QString();
        QTest::newRow("cancel_button_while_searching") << -2 << true << QString() << QString();
    }

    // Catches a finder that fills the wrong fields or loses an octet (a MAC
    // field's change empties the next one), touches the IP fields, forgets
    // where the adaptor answers, or changes anything when cancelled.
    void finderFillsMacFields() {
        QFETCH(int, choice);
        QFETCH(bool, holdEnd);
        QFETCH(QString, mac);
        QFETCH(QString, address);
        WindowFixture f;
        QVERIFY(f.ready);
        f.fakeFinder.answers = {found("00204a0b1c2d", "10.61.1.20", {9999, 3001}),
                                found("0080a36163dd", "10.61.1.21", {23, 3001})};
        f.fakeFinder.holdEnd = holdEnd;
        const QStringList before{"00", "80", "a3", "01", "02", "03"};
        for (int i = 0; i < 6; ++i)
            f.preset(QStringLiteral("mac%1").arg(i), before.at(i));
        const QStringList ip{"10", "61", "1", "99"};
        for (int i = 0; i < 4; ++i)
            f.preset(QStringLiteral("ip%1").arg(i), ip.at(i));
        f.presetStatus(QStringLiteral("before"));

        QTest::keyClick(f.window.get(), Qt::Key_F, Qt::ControlModifier);
        auto* dialog = f.window->findChild<FinderDialog*>();
        QVERIFY(dialog != nullptr);
        QTRY_VERIFY(QApplication::activeModalWidget() == dialog);
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("finderList"));
        QTRY_COMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(f.fakeFinder.requests.size(), 1);
        QCOMPARE(f.fakeFinder.requests.front().all, false);

        if (choice >= 0) {
            QCOMPARE(list->topLevelItem(choice)->text(2), address);
            list->setCurrentItem(list->topLevelItem(choice));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("finderUse")), Qt::LeftButton);
        } else if (choice == -1) {
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("finderCancel")),
                              Qt::LeftButton);
        }
        QTRY_VERIFY(f.window->findChild<FinderDialog*>() == nullptr);

        const QStringList expected =
            mac.isEmpty() ? before : QStringList{mac.mid(0, 2), mac.mid(2, 2), mac.mid(4, 2),
                                                 mac.mid(6, 2), mac.mid(8, 2), mac.mid(10, 2)};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(f.edit(QStringLiteral("mac%1").arg(i))->text(), expected.at(i));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(f.edit(QStringLiteral("ip%1").arg(i))->text(), ip.at(i));
        QCOMPARE(f.binding->controller().currentAddressFor(mac), address);
        QCOMPARE(f.binding->controller().currentAddressFor(QStringLiteral("0080a3010203")), QString());
        // A search still under way is ended, one that has ended is not.
        QCOMPARE(f.fakeFinder.cancels, holdEnd ? 1 : 0);
        if (mac.isEmpty()) {
            QCOMPARE(f.status(), QStringLiteral("before"));
        } else {
            QCOMPARE(f.status(), WindowBinding::chosenText(found(mac, address, {})));
            QVERIFY(f.status().contains(address));
            QCOMPARE(f.window->focusWidget(), f.edit(QStringLiteral("ip0")));
        }
    }

    // Catches the finder offered where the technician cannot reach it (the
    // MAC fields' menu) or opened during a run, whose probes it would share
    // the link with.
    void finderOnlyWhileIdle() {
        WindowFixture f;
        QVERIFY(f.ready);
        std::unique_ptr<QMenu> menu(f.window->macContextMenu(f.edit(QStringLiteral("mac3"))));
        QVERIFY(menu->actions().contains(f.window->findAction()));
        QCOMPARE(f.window->findAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        f.binding->controller().lockWindow();
        QTest::keyClick(f.window.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(f.window->findChild<FinderDialog*>() == nullptr);
        QVERIFY(f.fakeFinder.requests.isEmpty());
        f.binding->controller().endRun(RunOutcome::Failed);
        f.window->findAction()->trigger();
        QVERIFY(f.window->findChild<FinderDialog*>() != nullptr);
    }

    // Catches a Details view that is out of reach (no shortcut, not in the
    // window's menu), falls behind the dialogue, hides a control character,
    // or copies or saves something other than what the view shows.
    void detailsFollowsTheDialogue() {
        WindowFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.window->actions().contains(f.window->detailsAction()));
        QCOMPARE(f.window->contextMenuPolicy(), Qt::ActionsContextMenu);
        DialogueTranscript& transcript = f.binding->controller().transcript();
        qint64 now = 0;
        transcript.start([&] { return now; });
        transcript.add(DialogueTranscript::Direction::Received, 23, "Username> ");
        QTest::keyClick(f.window.get(), Qt::Key_D, Qt::ControlModifier);
        auto* details = f.window->findChild<DetailsDialog*>();
        QVERIFY(details != nullptr);
        auto* text = details->findChild<QPlainTextEdit*>(QStringLiteral("detailsText"));
        now = 3000;
        transcript.add(DialogueTranscript::Direction::Sent, 23, "hello\n");
        transcript.add(DialogueTranscript::Direction::Received, 9999, QByteArray::fromHex("0d0a1b00"));
        QCOMPARE(text->toPlainText() + QLatin1Char('\n'), transcript.text());
        QVERIFY(text->toPlainText().contains(QStringLiteral("    3.000    23 > hello\\n")));
        QVERIFY(text->toPlainText().contains(QStringLiteral("\\r\\n\\x1b\\x00")));
        details->copyAll();
        QCOMPARE(QGuiApplication::clipboard()->text(), transcript.text());
        QTemporaryDir dir;
        QString why;
        QVERIFY(details->saveTo(dir.filePath(QStringLiteral("run.log")), &why));
        QFile saved(dir.filePath(QStringLiteral("run.log")));
        QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text)); // as the platform ends lines
        QCOMPARE(QString::fromUtf8(saved.readAll()), transcript.text());
        QVERIFY(!details->saveTo(dir.filePath(QStringLiteral("no/such/folder/run.log")), &why));
        QVERIFY(!why.isEmpty());
        // Past the limit the oldest entries go, in the view as in the transcript.
        transcript.add(DialogueTranscript::Direction::Received, 23,
                       QByteArray(DialogueTranscript::kLimit, 'x'));
        QCOMPARE(transcript.entries().size(), 1);
        QCOMPARE(text->toPlainText() + QLatin1Char('\n'), transcript.text());
        // A second Ctrl+D brings the same view forward.
        QTest::keyClick(f.window.get(), Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(f.window->findChildren<DetailsDialog*>().size(), 1);
    }

    // Catches a Setup after choosing an adaptor that still takes the
    // family's route (a datagram or a neighbour entry for an adaptor that has
    // an address), or that configures whatever answers at that address.
    void chosenAdaptorIsReachedWhereItAnswers() {
        OwnerProbe probe;
        WindowFixture f({.probe = &probe});
        QVERIFY(f.ready);
        f.fakeFinder.answers = {found("0080a36163dd", "10.61.1.21", {23, 3001})};
        const QStringList ip{"10", "61", "1", "99"};
        for (int i = 0; i < 4; ++i)
            f.preset(QStringLiteral("ip%1").arg(i), ip.at(i));
        f.window->findAction()->trigger();
        auto* dialog = f.window->findChild<FinderDialog*>();
        QVERIFY(dialog != nullptr);
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("finderList"));
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("finderUse")), Qt::LeftButton);
        QTRY_VERIFY(f.window->findChild<FinderDialog*>() == nullptr);

        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY(f.window->setupButton()->isEnabled());
        QCOMPARE(probe.asked, QStringList{QStringLiteral("10.61.1.21")});
        QVERIFY2(f.status().endsWith(QStringLiteral("nothing was changed")), qPrintable(f.status()));
        QVERIFY(f.status().contains(QStringLiteral("00-11-22-33-44-55")));
        QVERIFY(f.fakeNeighbours.calls.isEmpty());
        QVERIFY(f.fakeBroadcast.sent.isEmpty());
        QVERIFY(f.fakeClient.sent.isEmpty());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
