#include "mainwindow.h"

#include "ipfsclient.h"
#include "offguithread.h"
#include "pinmodel.h"

#include <QAction>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>

namespace {

const QString kPinnedMode = QStringLiteral("pinned");
const QString kUnpinnedMode = QStringLiteral("unpinned");
const QString kCompositeFilter = QStringLiteral("recursive+direct");
const QString kIndirectType = QStringLiteral("indirect");
const QString kRecursiveType = QStringLiteral("recursive");

// At most this many refs requests per load: counting refs walks a whole DAG on the node.
constexpr int kMaxRefsRequestsPerLoad = 500;
// Above this many rows, fitting columns to their contents costs more than it helps.
constexpr int kAutoFitRowLimit = 1200;

// The rows the table shows: the combined filter never lists indirect pins, even if a node
// sends some. Shares the list when there is nothing to leave out.
QList<PinEntry> rowsForTable(const QList<PinEntry>& pins, const QString& typeFilter)
{
    if (typeFilter != kCompositeFilter)
        return pins;
    const auto isIndirect = [](const PinEntry& pin) { return pin.type == kIndirectType; };
    if (std::none_of(pins.cbegin(), pins.cend(), isIndirect))
        return pins;
    QList<PinEntry> rows;
    rows.reserve(pins.size());
    std::copy_if(pins.cbegin(), pins.cend(), std::back_inserter(rows), std::not_fn(isIndirect));
    return rows;
}

} // namespace

void MainWindow::triggerRefresh(bool force)
{
    if (force) {
        client->cancelActiveLoading();
        // The client's queues are emptied: the rows still waiting to be asked for go too.
        dropMetadataBacklog();
    } else if (refreshBtn && !refreshBtn->isEnabled())
        return;

    endpointEntryCounts.clear();
    lastCountUpdateMs = 0;
    const QString baseUrl = client->baseUrl();
    setConnectionDotState(ConnectionStatusDot::Checking, QStringLiteral("Checking %1").arg(baseUrl));
    setRefreshing(true);
    if (notificationLabel)
        notificationLabel->hide();

    if (contentMode != kUnpinnedMode) {
        setStatusMessage(QStringLiteral("Fetching pins from %1\u2026").arg(baseUrl));
        client->fetchPins(typeFilter, QStringLiteral("base32"), true, cidsToShareWithTheNextList());
    } else {
        setStatusMessage(QStringLiteral("Fetching unpinned refs from %1\u2026").arg(baseUrl));
        client->fetchUnpinned();
    }
    client->fetchNodeInfo();
}

// The combined listing comes sorted by CID, and its entries take the text of the CIDs the table
// already shows: a refresh of a full table then holds each CID once, not twice.
QStringList MainWindow::cidsToShareWithTheNextList()
{
    if (typeFilter != kCompositeFilter)
        return {};
    return model->cidsInListOrder(std::exchange(sharedCidsRoom, {}));
}

// Fresh memory for a million entries costs the system a page at a time, about 70 ms on the
// refresh click; the room for them is made on a worker while the table is idle. It holds no
// text, so it keeps nothing of the table alive.
void MainWindow::prepareRoomForSharedCids()
{
    constexpr int kRoomMadeAheadPins = 100000;
    sharedCidsRoom = {};
    const int pins = model->pinCount();
    if (typeFilter != kCompositeFilter || pins < kRoomMadeAheadPins)
        return;
    const QPointer<MainWindow> window(this);
    const quint64 load = model->loadGeneration();
    runOffGuiThread([pins] { return QStringList(pins); },
        [window, load](QStringList& room) {
            if (window && window->model->loadGeneration() == load)
                window->sharedCidsRoom = std::exchange(room, {});
        });
}

void MainWindow::setRefreshing(bool on)
{
    if (!refreshBtn)
        return;
    refreshBtn->setEnabled(!on);
    refreshBtn->setText(on ? QStringLiteral("\u27F3  Loading\u2026") : QStringLiteral("\u27F3  Refresh"));
}

void MainWindow::onRefreshClicked()
{
    triggerRefresh(false);
}

void MainWindow::onAutoRefreshTick()
{
    triggerRefresh(false);
}

void MainWindow::onStreamEntriesLoaded(const QString& source, int count)
{
    if (!refreshBtn || refreshBtn->isEnabled() || count <= 0)
        return;
    // The combined filter streams two lists under one source: show the larger count.
    const int best = qMax(count, endpointEntryCounts.value(source, 0));
    endpointEntryCounts.insert(source, best);
    const bool shownSource = contentMode != kUnpinnedMode ? source == QLatin1String("pin/ls")
                                                          : source == QLatin1String("refs/local");
    if (shownSource)
        setStatusMessage(QStringLiteral("Entries loaded: %1").arg(best));
}

void MainWindow::onPinsReceived(const QList<PinEntry>& pins)
{
    receivedEntryCount = int(pins.size());
    awaitingPinsApplied = true;
    // A large list is made ready for the table on a worker; the load goes on once the table has
    // it (onPinsApplied), and until then the previous rows stay usable.
    model->setPinsInBackground(rowsForTable(pins, typeFilter));
}

void MainWindow::onPinsApplied()
{
    if (!std::exchange(awaitingPinsApplied, false))
        return;
    setRefreshing(false);

    dropMetadataBacklog();
    metadataProgress.clear();
    refsRequested.clear();
    prepareRoomForSharedCids();

    const bool pinned = contentMode == kPinnedMode;
    if (pinned) {
        for (int index = 0; index < model->pinCount(); ++index) {
            if (refsRequested.size() >= kMaxRefsRequestsPerLoad)
                break;
            const PinEntry& pin = model->pinAtIndex(index);
            if (pin.type != kRecursiveType || pin.cid.isEmpty())
                continue;
            refsRequested.insert(pin.cid);
            client->fetchRefs(pin.cid);
        }
    }
    if (pinned && loadMetadata)
        requestSizesAndKinds();

    proxy->setTypeFilter(typeFilter);

    if (pinned) {
        QTimer::singleShot(0, this, &MainWindow::autoFitColumns);
        if (model->pinCount() > kAutoFitRowLimit)
            setStatusMessage(QStringLiteral("Loaded %1 pin(s) \u2014 large list mode (auto-resize skipped)")
                                 .arg(receivedEntryCount));
    }

    searchDebounceTimer->stop();
    proxy->setFilterFixedString(searchEdit->text());
    updateCountLabels();

    const bool hasSelection = tableView && tableView->selectionModel()->hasSelection();
    unpinSelectedAction->setEnabled(hasSelection && pinned);
    publishToIpnsAction->setEnabled(hasSelection && pinned);
    unpinAllAction->setEnabled(pinned && model->rowCount() > 0);

    const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    const QString summary = contentMode != kUnpinnedMode
        ? QStringLiteral("Loaded %1 pin(s) \u2014 %2")
        : QStringLiteral("Loaded %1 unpinned CID(s) \u2014 %2");
    setStatusMessage(summary.arg(receivedEntryCount).arg(time));
    scheduleStatusReset(5000, [](const QString& status) {
        return status.contains(QLatin1String("pin(s)")) || status.contains(QLatin1String("unpinned CID(s)"));
    });
}

void MainWindow::autoFitColumns()
{
    if (!tableView || contentMode != kPinnedMode || model->rowCount() > kAutoFitRowLimit)
        return;
    QHeaderView* header = tableView->horizontalHeader();
    const auto fit = [this, header](int column) {
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        tableView->resizeColumnToContents(column);
        header->setSectionResizeMode(column, QHeaderView::Interactive);
    };
    fit(PinModel::CidColumn);
    header->resizeSection(
        PinModel::CidColumn, qMax(header->sectionSize(PinModel::CidColumn), minimumCidColumnWidth()));
    for (const int column :
        { PinModel::RefsColumn, PinModel::TypeColumn, PinModel::KindColumn, PinModel::DagSizeColumn })
        fit(column);
}

// Wide enough for a CIDv1 in the CID column's own font, whatever the table holds.
int MainWindow::minimumCidColumnWidth() const
{
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(12);
    const int width = QFontMetrics(font).horizontalAdvance(QString(59, u'm'));
    return width < 393 ? 420 : width + 28;
}

void MainWindow::onSearchTextChanged(const QString&)
{
    searchDebounceTimer->start();
}

void MainWindow::onSearchDebounceTimeout()
{
    proxy->setFilterFixedString(searchEdit->text());
    updateCountLabels();
}

void MainWindow::onConnectionStatusChanged(bool isConnected)
{
    connected = isConnected;
    const QString baseUrl = client->baseUrl();
    if (isConnected) {
        setConnectionDotState(ConnectionStatusDot::Connected, QStringLiteral("Connected to %1").arg(baseUrl));
        return;
    }
    setConnectionDotState(
        ConnectionStatusDot::Disconnected, QStringLiteral("Disconnected from %1").arg(baseUrl));
    peerId.clear();
    peerIdLabel->setText(QStringLiteral("Not connected"));
    peerIdLabel->setCursor(Qt::ArrowCursor);
    peerIdLabel->setToolTip(QString());
}

void MainWindow::onNodeInfoReceived(const QString& nodeId, const QString& agentVersion)
{
    peerId = nodeId;
    peerIdLabel->setText(QStringLiteral("PeerID: %1  |  %2").arg(nodeId, agentVersion));
    peerIdLabel->setToolTip(QString());
    peerIdLabel->setCursor(Qt::PointingHandCursor);
}

void MainWindow::onErrorOccurred(const QString& message)
{
    setRefreshing(false);
    showNotification(message, true);
    setStatusMessage(QStringLiteral("Error: ") + message);
    scheduleStatusReset(
        8000, [](const QString& status) { return status.startsWith(QLatin1String("Error: ")); });
}

// In the background the table does not repaint, however many answers arrive.
void MainWindow::onApplicationStateChanged(Qt::ApplicationState state)
{
    if (!tableView)
        return;
    const bool active = state == Qt::ApplicationActive;
    tableView->setUpdatesEnabled(active);
    if (active)
        tableView->update();
}
