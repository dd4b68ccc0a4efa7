#pragma once

#include "app/LauncherProgress.h"
#include "app/QtPorts.h"
#include "setup/AdaptorFinder.h"
#include "setup/HostServices.h"
#include "setup/SetupController.h"

#include <QGuiApplication>
#include <QObject>
#include <array>
#include <memory>
#include <vector>

class DetailsDialog;
class FinderDialog;
class MainWindow;

// What the window uses of the host; each one left empty means the host's real one.
struct WindowServices {
    SocketControl* commandLineSocket = nullptr;
    SocketControl* setupMenuSocket = nullptr;
    SocketControl* datagramSocket = nullptr;
    SocketControl* signSocket = nullptr;
    EchoProbe* probe = nullptr;
    NeighbourTable* neighbours = nullptr;
    MessageBox* messageBox = nullptr;
    AdaptorFinder* finder = nullptr;
    // The network helper behind the real probe and neighbour table; empty: the installed one.
    QString helperProgram{};
};

// Puts the window's logic behind the real widgets: builds the Qt ports, hands
// them to SetupController, forwards every widget event to its handler, and loads the
// window. It holds no rules of its own.
class WindowBinding : public QObject {
    Q_OBJECT
public:
    explicit WindowBinding(MainWindow& window, WindowServices services = {});
    ~WindowBinding() override;

    [[nodiscard]] SetupController& controller() { return *m_controller; }
    [[nodiscard]] MainWindow& window() { return m_window; }

    // "Find adaptors…": the finder's dialog, while the window is idle.
    void findAdaptors();
    // Fills the MAC fields with the adaptor's and has Setup reach it at the
    // address it answers at; the IP fields are left for the address to give it.
    void useAdaptor(const FoundAdaptor& adaptor);
    [[nodiscard]] static QString chosenText(const FoundAdaptor& adaptor);
    // "Details…": the run's dialogue in a window of its own, kept up to date.
    void showDetails();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainWindow& m_window;
    std::vector<std::unique_ptr<LineEditBox>> m_fields;
    std::unique_ptr<TranscriptBox> m_transcriptBox;
    std::unique_ptr<StatusLine> m_status;
    std::unique_ptr<PushButton> m_setupButton;
    std::unique_ptr<PushButton> m_exitButton;
    std::unique_ptr<PushButton> m_signTestButton;
    std::unique_ptr<TickTimer> m_timer;
    OverrideCursor m_pointer;
    std::unique_ptr<ModalMessageBox> m_messageBox;
    std::unique_ptr<WindowFrame> m_frame;
    HostServices m_host;
    AdaptorFinder* m_finder = nullptr;
    std::unique_ptr<AdaptorFinder> m_ownFinder;
    FinderDialog* m_finderDialog = nullptr;
    DetailsDialog* m_details = nullptr;
    LauncherProgress m_launcher{QGuiApplication::desktopFileName()};
    void showProgress(const RunProgress::Snapshot& snapshot);
    std::unique_ptr<SetupController> m_controller;
    int m_focusedEntry = -1; // the entry field that holds the window's focus
};
