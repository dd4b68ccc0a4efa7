#include "app/FinderDialog.h"

#include "address/AddressRules.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
enum Column { MacColumn, FamilyColumn, AddressColumn, InterfaceColumn, PortsColumn, ColumnCount };

QString familyText(int family) {
    switch (family) {
    case 1:
        return QStringLiteral("00-20-4a");
    case 2:
        return QStringLiteral("00-80-a3");
    default:
        return QStringLiteral("other");
    }
}
} // namespace

FinderDialog::FinderDialog(AdaptorFinder& finder, QWidget* parent)
    : QDialog(parent)
    , m_finder(finder) {
    setObjectName(QStringLiteral("FinderDialog"));
    setWindowTitle(kTitle);

    m_state = new QLabel(kSearching, this);
    m_state->setObjectName(QStringLiteral("finderState"));
    m_state->setWordWrap(true);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("finderList"));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("MAC address"), QStringLiteral("Family"),
                             QStringLiteral("Answers at"), QStringLiteral("Interface"),
                             QStringLiteral("Open ports")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setTextElideMode(Qt::ElideNone);

    auto* buttons = new QDialogButtonBox(this);
    m_use = buttons->addButton(QStringLiteral("Use"), QDialogButtonBox::AcceptRole);
    m_use->setObjectName(QStringLiteral("finderUse"));
    m_use->setEnabled(false);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("finderCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FinderDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FinderDialog::reject);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_use->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { accept(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_state);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);

    // Wide enough for a row of every column at the desktop's font.
    const QFontMetrics metrics(font());
    const int row = metrics.horizontalAdvance(
        QStringLiteral("00-80-a3-61-63-dd  00-80-a3  255.255.255.255  enp0s31f6  9999 23 3001"));
    resize(row + 12 * metrics.averageCharWidth(), 14 * metrics.height());
}

FinderDialog::~FinderDialog() {
    if (m_searching)
        m_finder.cancel();
}

QString FinderDialog::portsText(const FoundAdaptor& adaptor) {
    if (!adaptor.onHostSubnet)
        return QStringLiteral("not tried");
    if (adaptor.openPorts.isEmpty())
        return QStringLiteral("none");
    QStringList ports;
    for (const int port : adaptor.openPorts)
        ports << QString::number(port);
    return ports.join(QLatin1Char(' '));
}

void FinderDialog::search() {
    m_searching = true;
    m_state->setText(kSearching);
    // The dialog may be gone by the time the finder calls back.
    QPointer<FinderDialog> self(this);
    m_finder.start(
        ScanRequest{},
        [self](const FoundAdaptor& adaptor) {
            if (self)
                self->add(adaptor);
        },
        [self](const ScanEnd& end) {
            if (self)
                self->finished(end);
        });
}

void FinderDialog::add(const FoundAdaptor& adaptor) {
    m_found.append(adaptor);
    auto* item = new QTreeWidgetItem(m_list);
    item->setText(MacColumn, AddressRules::dashedMac(adaptor.mac));
    item->setText(FamilyColumn, familyText(adaptor.family));
    item->setText(AddressColumn, adaptor.address);
    item->setText(InterfaceColumn, adaptor.interfaceName);
    item->setText(PortsColumn, portsText(adaptor));
    item->setData(MacColumn, Qt::UserRole, int(m_found.size() - 1));
    if (m_list->topLevelItemCount() == 1)
        m_list->setCurrentItem(item);
}

void FinderDialog::finished(const ScanEnd& end) {
    m_searching = false;
    if (!end.error.isEmpty())
        m_state->setText(end.error);
    else if (m_found.isEmpty())
        m_state->setText(kNothing);
    else
        m_state->setText(m_found.size() == 1 ? QStringLiteral("1 adaptor answered.")
                                             : QStringLiteral("%1 adaptors answered.").arg(m_found.size()));
}

void FinderDialog::accept() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    m_chosen = m_found.value(selected.front()->data(MacColumn, Qt::UserRole).toInt());
    if (m_searching) {
        m_searching = false;
        m_finder.cancel();
    }
    QDialog::accept();
}

void FinderDialog::reject() {
    m_chosen.reset();
    if (m_searching) {
        m_searching = false;
        m_finder.cancel();
    }
    QDialog::reject();
}
