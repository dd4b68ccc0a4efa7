#pragma once

#include "base/WindowPorts.h"

#include <QColor>
#include <QIcon>
#include <QWidget>
#include <array>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

// The tool's one window: the four rows of entry fields for the adaptor's MAC
// address and the IP address, subnet mask and gateway to give it, the Setup and
// Exit buttons, the status bar, and the connection log and "Send Test" button
// that sit below the visible area. It only builds and exposes the controls; the
// window's logic is wired to them elsewhere.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // 0..17: the MAC's six fields, then the IP's, the mask's and the gateway's four;
    // nullptr outside that range.
    [[nodiscard]] QLineEdit* entry(int position) const;
    [[nodiscard]] QPlainTextEdit* transcriptBox() const { return m_transcriptBox; }
    [[nodiscard]] QStatusBar* statusBar() const { return m_status; }
    [[nodiscard]] QPushButton* setupButton() const { return m_setup; }
    [[nodiscard]] QPushButton* exitButton() const { return m_exit; }
    [[nodiscard]] QPushButton* sendTestButton() const { return m_sendTest; }
    // "Find adaptors…": Ctrl+F anywhere in the window, and in the MAC fields' context menu.
    [[nodiscard]] QAction* findAction() const { return m_find; }
    // "Details…": the run's dialogue, Ctrl+D and the window's context menu.
    [[nodiscard]] QAction* detailsAction() const { return m_details; }
    // A thin bar along the status bar's top edge, shown while a run is busy;
    // its tooltip names the stage. The status text keeps the whole bar.
    [[nodiscard]] QProgressBar* progressBar() const { return m_progress; }
    // A MAC field's context menu: the field's own edit actions, then the finder.
    [[nodiscard]] QMenu* macContextMenu(QLineEdit* field);

    // The sign-with-adaptor icon in all its drawn sizes: the window's once it
    // is drawn, and through the application the message boxes' too.
    [[nodiscard]] static QIcon applicationIcon();

    // Paints an entry field's background in the inactive or the active field colour.
    void setFieldColour(QLineEdit* field, FieldColour colour);
    // The two field colours always differ, so the field with the focus stands out.
    [[nodiscard]] QColor fieldColour(FieldColour colour) const;

    static constexpr int entryCount = 18;

protected:
    bool event(QEvent* event) override;

private:
    void buildCaptions();
    void buildEntries();
    void buildDots();
    void buildDashes();
    void buildButtons();
    void buildHiddenControls();
    void buildStatusBar();
    void buildFindAction();
    void setKeyboardOrder();

    QLabel* addLabel(const char* name, const QString& text, const QRect& twips);
    QLineEdit* addEntry(const char* name, const QString& text, const QRect& twips, int maxLength);

    std::array<QLineEdit*, entryCount> m_entries{};
    QPlainTextEdit* m_transcriptBox = nullptr;
    QStatusBar* m_status = nullptr;
    QPushButton* m_setup = nullptr;
    QPushButton* m_exit = nullptr;
    QPushButton* m_sendTest = nullptr;
    QAction* m_find = nullptr;
    QAction* m_details = nullptr;
    QProgressBar* m_progress = nullptr;
    bool m_iconQueued = false;
};
