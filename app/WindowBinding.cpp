#include "app/WindowBinding.h"

#include "address/AddressRules.h"

#include "app/DetailsDialog.h"
#include "app/FinderDialog.h"
#include "app/MainWindow.h"

#include "setup/ScanFinder.h"

#include <QAction>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

WindowBinding::WindowBinding(MainWindow& window, WindowServices services)
    : m_window(window)
    , m_host(services.helperProgram.isEmpty() ? NetHelper::defaultProgram() : services.helperProgram) {
    SetupPorts ports;
    for (int i = 0; i < EntryFields::kFieldCount; ++i) {
        m_fields.push_back(std::make_unique<LineEditBox>(
            *window.entry(i), [&window](FieldColour colour) { return window.fieldColour(colour); }));
        ports.fields[i] = m_fields.back().get();
    }
    m_transcriptBox = std::make_unique<TranscriptBox>(*window.transcriptBox());
    m_status = std::make_unique<StatusLine>(*window.statusBar());
    m_setupButton = std::make_unique<PushButton>(*window.setupButton());
    m_exitButton = std::make_unique<PushButton>(*window.exitButton());
    m_signTestButton = std::make_unique<PushButton>(*window.sendTestButton());
    m_timer = std::make_unique<TickTimer>([this] { m_controller->tick(); });
    m_messageBox = std::make_unique<ModalMessageBox>(&window);
    m_frame = std::make_unique<WindowFrame>(window);

    ports.transcriptBox = m_transcriptBox.get();
    ports.status = m_status.get();
    ports.setupButton = m_setupButton.get();
    ports.exitButton = m_exitButton.get();
    ports.signTestButton = m_signTestButton.get();
    ports.tickTimer = m_timer.get();
    ports.pointer = &m_pointer;
    ports.messageBox = services.messageBox ? services.messageBox : m_messageBox.get();
    ports.frame = m_frame.get();
    ports.commandLineSocket = services.commandLineSocket;
    ports.setupMenuSocket = services.setupMenuSocket;
    ports.datagramSocket = services.datagramSocket;
    ports.signSocket = services.signSocket;
    ports.probe = services.probe;
    ports.neighbours = services.neighbours;
    m_host.fillEmpty(ports);
    m_controller = std::make_unique<SetupController>(ports);

    for (int i = 0; i < EntryFields::kFieldCount; ++i) {
        QLineEdit* edit = window.entry(i);
        const FieldId id = EntryFields::idAt(i);
        connect(edit, &QLineEdit::textChanged, this, [this, id] { m_controller->fieldChanged(id); });
        edit->installEventFilter(this);
    }
    connect(window.setupButton(), &QPushButton::clicked, this, [this] { m_controller->setupClicked(); });
    connect(window.exitButton(), &QPushButton::clicked, this, [this] { m_controller->exitClicked(); });
    connect(window.sendTestButton(), &QPushButton::clicked, this,
            [this] { m_controller->sendTestClicked(); });
    if (services.finder == nullptr) {
        m_ownFinder = std::make_unique<ScanFinder>(m_host.helper.program());
        services.finder = m_ownFinder.get();
    }
    m_finder = services.finder;
    connect(window.findAction(), &QAction::triggered, this, &WindowBinding::findAdaptors);
    connect(window.detailsAction(), &QAction::triggered, this, &WindowBinding::showDetails);
    m_controller->progress().observe([this](const RunProgress::Snapshot& s) { showProgress(s); });
    m_controller->transcript().observe([this](const DialogueTranscript::Entry& entry) {
        if (m_details)
            m_details->added(entry);
    });
    window.installEventFilter(this);

    m_controller->load();
}

WindowBinding::~WindowBinding() {
    m_window.removeEventFilter(this);
    for (int i = 0; i < EntryFields::kFieldCount; ++i)
        m_window.entry(i)->removeEventFilter(this);
}

bool WindowBinding::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window && event->type() == QEvent::Close) {
        m_controller->unload();
        return false;
    }
    if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut)
        return false;
    for (int i = 0; i < EntryFields::kFieldCount; ++i) {
        if (watched != m_window.entry(i))
            continue;
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (event->type() == QEvent::FocusIn) {
            // Coming back from another window (a message box, another
            // program) to the same field is not a move of the focus.
            if (m_focusedEntry == i)
                return false;
            m_focusedEntry = i;
            m_controller->fieldFocused(EntryFields::idAt(i));
        } else {
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
                return false;
            m_focusedEntry = -1;
            m_controller->fieldLeft(EntryFields::idAt(i));
        }
    }
    return false;
}

void WindowBinding::findAdaptors() {
    // Not during a run: the window is locked, and a search would share the
    // link with the run's probes.
    if (m_finder == nullptr || m_finderDialog != nullptr || m_controller->unloaded() || m_controller->busy())
        return;
    auto* dialog = new FinderDialog(*m_finder, &m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_finderDialog = dialog;
    connect(dialog, &QObject::destroyed, this, [this] { m_finderDialog = nullptr; });
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (const auto& chosen = dialog->chosen())
            useAdaptor(*chosen);
    });
    dialog->open();
    dialog->search();
}

QString WindowBinding::chosenText(const FoundAdaptor& adaptor) {
    return QStringLiteral("%1 is at %2; Setup moves it to the IP address typed")
        .arg(AddressRules::dashedMac(adaptor.mac), adaptor.address);
}

void WindowBinding::useAdaptor(const FoundAdaptor& adaptor) {
    // Octet by octet, as typing them would: each field checks what it is given.
    for (int position = 0; position < 6; ++position)
        m_window.entry(position)->setText(adaptor.mac.mid(2 * position, 2));
    m_controller->reachAt(adaptor.mac, adaptor.address);
    m_controller->ports.status->showMessage(chosenText(adaptor));
    m_window.entry(6)->setFocus(Qt::OtherFocusReason);
}

void WindowBinding::showProgress(const RunProgress::Snapshot& snapshot) {
    QProgressBar* bar = m_window.progressBar();
    bar->setValue(snapshot.percent);
    QString tip = RunProgress::describe(snapshot);
    if (snapshot.leftMs > 0)
        tip += QStringLiteral(" (about %1 s left)").arg((snapshot.leftMs + 999) / 1000);
    bar->setToolTip(tip);
    bar->setVisible(m_controller->progress().running());
    m_launcher.show(snapshot.percent / 100.0, m_controller->progress().running());
}

void WindowBinding::showDetails() {
    if (m_details) {
        m_details->raise();
        m_details->activateWindow();
        return;
    }
    m_details = new DetailsDialog(m_controller->transcript(), &m_window);
    m_details->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_details, &QObject::destroyed, this, [this] { m_details = nullptr; });
    m_details->show();
}
