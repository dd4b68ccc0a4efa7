#pragma once

#include "setup/AdaptorFinder.h"

#include <QDialog>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// "Find adaptors": asks the finder who is on the cable and lists each adaptor
// with the address it answers at, so that the technician can pick the one on
// the label. Cancel or Escape ends the search and changes nothing.
class FinderDialog : public QDialog {
    Q_OBJECT
public:
    inline static const QString kTitle = QStringLiteral("Find adaptors");
    inline static const QString kSearching = QStringLiteral("Asking the cable which adaptors are there ...");
    inline static const QString kNothing =
        QStringLiteral("No adaptor answered. One without an address cannot answer: give it one with Setup.");

    FinderDialog(AdaptorFinder& finder, QWidget* parent = nullptr);
    ~FinderDialog() override;

    // Starts the search; the list fills as adaptors are found.
    void search();
    // The adaptor chosen, once the dialog has been accepted.
    [[nodiscard]] const std::optional<FoundAdaptor>& chosen() const { return m_chosen; }

    // "9999 3001", "none", or "not tried" for an adaptor on no subnet of this host.
    [[nodiscard]] static QString portsText(const FoundAdaptor& adaptor);

    void accept() override;
    void reject() override;

private:
    void add(const FoundAdaptor& adaptor);
    void finished(const ScanEnd& end);

    AdaptorFinder& m_finder;
    QLabel* m_state = nullptr;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_use = nullptr;
    QList<FoundAdaptor> m_found;
    std::optional<FoundAdaptor> m_chosen;
    bool m_searching = false;
};
