#include "swarmdialog.h"

#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"
#include "tablefill.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QTableWidget* makeTable(const QStringList& headers, QWidget* parent)
{
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setAlternatingRowColors(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

} // namespace

SwarmDialog::SwarmDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(u"Swarm"_s);
    DialogSizing::Options sizing;
    sizing.settingsKey = u"Dialogs/SwarmDialog"_s;
    sizing.minimumSize = QSize(720, 460);
    sizing.preferredSize = QSize(1080, 760);
    sizing.maxScreenWidthFraction = 0.7;
    sizing.maxScreenHeightFraction = 0.65;
    DialogSizing::attach(this, sizing);

    buildLayout();
    connectClient();
}

void SwarmDialog::buildLayout()
{
    auto* layout = new QVBoxLayout(this);

    filterEdit = new QLineEdit(this);
    filterEdit->setObjectName(u"filterEdit"_s);
    filterEdit->setPlaceholderText(u"Quick filter peers/addresses..."_s);
    peerEdit = new QLineEdit(this);
    peerEdit->setObjectName(u"peerEdit"_s);
    peerEdit->setPlaceholderText(u"Peer multiaddr (example: /ip4/.../tcp/.../p2p/<peerId>)"_s);
    connectButton = new QPushButton(u"Connect"_s, this);
    connectButton->setObjectName(u"connectButton"_s);
    disconnectButton = new QPushButton(u"Disconnect selected"_s, this);
    disconnectButton->setObjectName(u"disconnectButton"_s);
    refreshButton = new QPushButton(u"Refresh"_s, this);
    refreshButton->setObjectName(u"refreshButton"_s);
    auto* topRow = new QHBoxLayout;
    topRow->addWidget(filterEdit, 1);
    topRow->addWidget(peerEdit, 1);
    topRow->addWidget(connectButton);
    topRow->addWidget(disconnectButton);
    topRow->addWidget(refreshButton);
    layout->addLayout(topRow);

    summaryLabel = new QLabel(summaryText(), this);
    summaryLabel->setObjectName(u"summaryLabel"_s);
    summaryLabel->setStyleSheet(u"font-weight: bold;"_s);
    layout->addWidget(summaryLabel);

    statusLabel = new ElidedLabel(u"Click Refresh to load swarm diagnostics"_s, this);
    statusLabel->setObjectName(u"statusLabel"_s);
    statusLabel->setStyleSheet(hintTextStyle());
    layout->addWidget(statusLabel);

    auto* tabs = new QTabWidget(this);
    peersTable = makeTable({ u"Connected peer multiaddr"_s }, tabs);
    peersTable->setObjectName(u"peersTable"_s);
    peersTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    peersTable->setSelectionMode(QAbstractItemView::SingleSelection);
    tabs->addTab(peersTable, u"Connected peers"_s);

    listenTable = makeTable({ u"Listen address"_s }, tabs);
    listenTable->setObjectName(u"listenTable"_s);
    tabs->addTab(listenTable, u"Listen addresses"_s);

    knownAddrsTable = makeTable({ u"Peer ID"_s, u"Known addresses"_s }, tabs);
    knownAddrsTable->setObjectName(u"knownAddrsTable"_s);
    knownAddrsTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    knownAddrsTable->setColumnWidth(0, 320);
    knownAddrsTable->setWordWrap(false); // row heights follow the number of addresses
    tabs->addTab(knownAddrsTable, u"Known addresses"_s);

    auto* bootstrapPage = new QWidget(tabs);
    auto* bootstrapLayout = new QVBoxLayout(bootstrapPage);
    bootstrapLayout->setContentsMargins(0, 0, 0, 0);
    bootstrapEdit = new QLineEdit(bootstrapPage);
    bootstrapEdit->setObjectName(u"bootstrapEdit"_s);
    bootstrapEdit->setPlaceholderText(u"Bootstrap peer (example: /ip4/.../tcp/.../p2p/<peerId>)"_s);
    bootstrapAddButton = new QPushButton(u"Add peer"_s, bootstrapPage);
    bootstrapAddButton->setObjectName(u"bootstrapAddButton"_s);
    bootstrapRemoveSelectedButton = new QPushButton(u"Remove selected"_s, bootstrapPage);
    bootstrapRemoveSelectedButton->setObjectName(u"bootstrapRemoveSelectedButton"_s);
    bootstrapRemoveAllButton = new QPushButton(u"Remove all"_s, bootstrapPage);
    bootstrapRemoveAllButton->setObjectName(u"bootstrapRemoveAllButton"_s);
    bootstrapRemoveAllButton->setEnabled(false);
    refreshBootstrapButton = new QPushButton(u"Refresh bootstrap"_s, bootstrapPage);
    refreshBootstrapButton->setObjectName(u"refreshBootstrapButton"_s);
    auto* bootstrapRow = new QHBoxLayout;
    bootstrapRow->addWidget(bootstrapEdit, 1);
    bootstrapRow->addWidget(bootstrapAddButton);
    bootstrapRow->addWidget(bootstrapRemoveSelectedButton);
    bootstrapRow->addWidget(bootstrapRemoveAllButton);
    bootstrapRow->addWidget(refreshBootstrapButton);
    bootstrapLayout->addLayout(bootstrapRow);
    bootstrapTable = makeTable({ u"Bootstrap peer multiaddr"_s }, bootstrapPage);
    bootstrapTable->setObjectName(u"bootstrapTable"_s);
    bootstrapTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    bootstrapTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    bootstrapLayout->addWidget(bootstrapTable);
    tabs->addTab(bootstrapPage, u"Bootstrap"_s);
    layout->addWidget(tabs);

    connect(filterEdit, &QLineEdit::textChanged, this, &SwarmDialog::onFilterTextChanged);
    connect(connectButton, &QPushButton::clicked, this, &SwarmDialog::onConnectClicked);
    connect(disconnectButton, &QPushButton::clicked, this, &SwarmDialog::onDisconnectSelectedClicked);
    connect(refreshButton, &QPushButton::clicked, this, &SwarmDialog::onRefreshClicked);
    connect(bootstrapAddButton, &QPushButton::clicked, this, &SwarmDialog::onBootstrapAddClicked);
    connect(bootstrapRemoveSelectedButton, &QPushButton::clicked, this,
        &SwarmDialog::onBootstrapRemoveSelectedClicked);
    connect(bootstrapRemoveAllButton, &QPushButton::clicked, this, &SwarmDialog::onBootstrapRemoveAllClicked);
    connect(refreshBootstrapButton, &QPushButton::clicked, this, &SwarmDialog::onRefreshBootstrapClicked);
}

void SwarmDialog::connectClient()
{
    connect(client, &IpfsClient::swarmPeersReceived, this, &SwarmDialog::onPeersReceived);
    connect(client, &IpfsClient::swarmAddrsReceived, this, &SwarmDialog::onAddrsReceived);
    connect(client, &IpfsClient::swarmListenAddrsReceived, this, &SwarmDialog::onListenAddrsReceived);
    connect(client, &IpfsClient::swarmConnectResult, this, &SwarmDialog::onConnectResult);
    connect(client, &IpfsClient::swarmDisconnectResult, this, &SwarmDialog::onDisconnectResult);
    connect(client, &IpfsClient::swarmRequestFailed, this, &SwarmDialog::onRequestFailed);
    connect(client, &IpfsClient::bootstrapPeersReceived, this, &SwarmDialog::onBootstrapPeersReceived);
    connect(client, &IpfsClient::bootstrapAddResult, this, &SwarmDialog::onBootstrapAddResult);
    connect(client, &IpfsClient::bootstrapRemoveResult, this, &SwarmDialog::onBootstrapRemoveResult);
    connect(client, &IpfsClient::bootstrapRequestFailed, this, &SwarmDialog::onRequestFailed);
}

void SwarmDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (peersTable->rowCount() == 0 && listenTable->rowCount() == 0 && knownAddrsTable->rowCount() == 0
        && bootstrapTable->rowCount() == 0)
        onRefreshClicked();
}

void SwarmDialog::setStatus(const QString& text, bool error)
{
    statusLabel->setText(text);
    statusLabel->setStyleSheet(error ? errorTextStyle() : QString());
}

void SwarmDialog::setLoading(bool loading)
{
    refreshButton->setEnabled(!loading);
    refreshBootstrapButton->setEnabled(!loading);
}

void SwarmDialog::onRefreshClicked()
{
    refreshButton->setEnabled(false);
    refreshBootstrapButton->setEnabled(false);
    pendingRefreshParts = 4;
    failedRefreshParts = 0;
    setStatus(u"Loading swarm diagnostics..."_s);
    emit statusMessageRequested(u"Fetching swarm and bootstrap diagnostics..."_s);
    client->fetchSwarmPeers();
    client->fetchSwarmAddrs();
    client->fetchSwarmListenAddrs();
    client->fetchBootstrapPeers(false);
}

void SwarmDialog::markRefreshPartCompleted(const QString& part)
{
    if (pendingRefreshParts < 1)
        return;
    if (part != "peers"_L1 && part != "addrs"_L1 && part != "listen"_L1 && part != "bootstrap-list"_L1)
        return;
    if (--pendingRefreshParts > 0)
        return;
    refreshButton->setEnabled(true);
    refreshBootstrapButton->setEnabled(true);
    if (statusLabel->styleSheet().isEmpty())
        statusLabel->setText(
            u"Swarm diagnostics loaded at %1"_s.arg(QTime::currentTime().toString(u"hh:mm:ss"_s)));
    // The label keeps the node's error; the status bar says what became of the whole refresh.
    if (failedRefreshParts == 0)
        emit statusMessageRequested(u"Swarm diagnostics loaded"_s);
    else if (failedRefreshParts < 4)
        emit statusMessageRequested(u"Swarm diagnostics loaded with errors"_s);
    else
        emit statusMessageRequested(u"Swarm diagnostics failed to load"_s);
}

QString SwarmDialog::summaryText() const
{
    const auto count
        = [](bool known, qsizetype size) { return known ? QString::number(size) : u"unknown"_s; };
    return u"Connected peers: %1 | Listen addrs: %2 | Known peers: %3 | Bootstrap peers: %4"_s.arg(
        count(peersKnown, peers.size()), count(listenAddrsKnown, listenAddrs.size()),
        count(peerAddrsKnown, peerAddrs.size()), count(bootstrapPeersKnown, bootstrapPeers.size()));
}

void SwarmDialog::refreshSummary()
{
    summaryLabel->setText(summaryText());
    DialogSizing::requestRefit(this);
}

void SwarmDialog::reapplyFilter()
{
    const QString filter = filterEdit->text();
    for (QTableWidget* table : { peersTable, listenTable, knownAddrsTable, bootstrapTable })
        applyTableFilter(table, filter);
}

void SwarmDialog::onFilterTextChanged(const QString& text)
{
    for (QTableWidget* table : { peersTable, listenTable, knownAddrsTable, bootstrapTable })
        applyTableFilter(table, text);
}

void SwarmDialog::applyTableFilter(QTableWidget* table, const QString& filter)
{
    if (!table)
        return;
    const QString needle = filter.trimmed();
    const int rows = table->rowCount();
    const int columns = table->columnCount();
    // With updates off the header skips its per-row repaint bookkeeping, which would make
    // hiding n rows cost n^2.
    const bool updates = table->updatesEnabled();
    table->setUpdatesEnabled(false);
    for (int row = 0; row < rows; ++row) {
        bool match = needle.isEmpty();
        for (int column = 0; !match && column < columns; ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            match = item && item->text().contains(needle, Qt::CaseInsensitive);
        }
        // Touch only rows whose state changes: hiding rows one by one is what costs.
        if (table->isRowHidden(row) == match)
            table->setRowHidden(row, !match);
    }
    table->setUpdatesEnabled(updates);
}

void SwarmDialog::onPeersReceived(const QStringList& list)
{
    peersKnown = true;
    peers = list;
    fillSingleColumn(peersTable, peers);
    reapplyFilter();
    refreshSummary();
    markRefreshPartCompleted(u"peers"_s);
}

void SwarmDialog::onListenAddrsReceived(const QStringList& list)
{
    listenAddrsKnown = true;
    listenAddrs = list;
    fillSingleColumn(listenTable, listenAddrs);
    reapplyFilter();
    refreshSummary();
    markRefreshPartCompleted(u"listen"_s);
}

void SwarmDialog::onAddrsReceived(const QHash<QString, QStringList>& table)
{
    peerAddrsKnown = true;
    peerAddrs = table;
    QStringList peerIds = peerAddrs.keys();
    peerIds.sort();
    QList<QStringList> rows;
    QList<int> lineCounts;
    rows.reserve(peerIds.size());
    lineCounts.reserve(peerIds.size());
    for (const QString& peerId : std::as_const(peerIds)) {
        const QStringList& addresses = peerAddrs[peerId];
        rows.append({ peerId, addresses.join(u'\n') });
        lineCounts.append(int(addresses.size()));
    }
    fillRows(knownAddrsTable, rows);
    fitRowsToLineCounts(knownAddrsTable, lineCounts); // one address per line in one cell
    reapplyFilter();
    refreshSummary();
    markRefreshPartCompleted(u"addrs"_s);
}

void SwarmDialog::onBootstrapPeersReceived(const QStringList& list)
{
    bootstrapPeersKnown = true;
    bootstrapPeers = list;
    fillSingleColumn(bootstrapTable, bootstrapPeers);
    bootstrapRemoveAllButton->setEnabled(!bootstrapPeers.isEmpty());
    reapplyFilter();
    refreshSummary();
    markRefreshPartCompleted(u"bootstrap-list"_s);
}

void SwarmDialog::onRequestFailed(const QString& operation, const QString& message)
{
    bool* known = operation == "peers"_L1  ? &peersKnown
        : operation == "listen"_L1         ? &listenAddrsKnown
        : operation == "addrs"_L1          ? &peerAddrsKnown
        : operation == "bootstrap-list"_L1 ? &bootstrapPeersKnown
                                           : nullptr;
    if (known) {
        *known = false;
        refreshSummary();
        if (pendingRefreshParts > 0)
            ++failedRefreshParts;
    }
    setStatus(message, true);
    if (operation.startsWith("bootstrap-"_L1))
        emit statusMessageRequested(u"Bootstrap error: %1"_s.arg(message));
    else
        emit statusMessageRequested(u"Swarm %1 error: %2"_s.arg(operation, message));
    markRefreshPartCompleted(operation);
}
