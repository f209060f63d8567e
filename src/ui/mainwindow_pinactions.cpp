#include "mainwindow.h"

#include "gateway.h"
#include "indirectpinsdialog.h"
#include "ipfsclient.h"
#include "pincontentsdialog.h"
#include "pinmodel.h"

#include <QAction>
#include <QBitArray>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QTableView>

namespace {

const QString kPinnedMode = QStringLiteral("pinned");
const QString kRecursiveType = QStringLiteral("recursive");

// The selected rows in the order selectedRows() gives them, without its per-row set: a
// select-all of a million rows is one range and costs one pass.
template <typename Visit>
void forEachSelectedPin(const QTableView* tableView, const PinFilterProxyModel* proxy, const PinModel* model, Visit visit)
{
    if (!tableView || !tableView->selectionModel())
        return;
    const QItemSelectionModel* selection = tableView->selectionModel();
    const QItemSelection ranges = selection->selection();
    const int rowCount = proxy->rowCount();
    const int lastColumn = proxy->columnCount() - 1;
    QBitArray seen(rowCount);
    for (const QItemSelectionRange& range : ranges) {
        // A range over every column selects its rows whole; any other needs the row test.
        const bool wholeRows = range.left() == 0 && range.right() == lastColumn;
        for (int row = range.top(); row <= range.bottom() && row < rowCount; ++row) {
            if (seen.testBit(row))
                continue;
            seen.setBit(row);
            if (!wholeRows && !selection->isRowSelected(row, range.parent()))
                continue;
            const PinEntry* pin = model->pinAt(proxy->mapToSource(proxy->index(row, 0)).row());
            if (pin && !pin->cid.isEmpty())
                visit(*pin);
        }
    }
}

// What a finished unpin did, in a sentence or a few.
QString unpinSummary(const UnpinReport& report)
{
    QStringList parts;
    const qsizetype removed = report.removed.size();
    const bool complete = report.notPinned.isEmpty() && report.failed.isEmpty();
    if (removed == 0 && !report.failed.isEmpty())
        parts << QStringLiteral("Unpin failed: %1.").arg(report.failure);
    else if (removed == 0 && !report.notPinned.isEmpty())
        parts << QStringLiteral("Unpin failed: the node holds no pin for %1 CID(s).").arg(report.notPinned.size());
    else if (complete)
        parts << QStringLiteral("Unpinned %1 CID(s).").arg(removed);
    else
        parts << QStringLiteral("Unpinned %1 of %2 CID(s).").arg(removed).arg(report.asked() - report.indirectLeftOut);
    if (removed > 0 && !report.notPinned.isEmpty())
        parts << QStringLiteral("%1 not pinned on the node.").arg(report.notPinned.size());
    if (removed > 0 && !report.failed.isEmpty())
        parts << QStringLiteral("%1 failed: %2.").arg(report.failed.size()).arg(report.failure);
    if (report.indirectLeftOut > 0) {
        parts << QStringLiteral("%1 indirect pin(s) left out: they go only with the pin that holds them.")
                     .arg(report.indirectLeftOut);
    }
    if (removed > 0)
        parts << QStringLiteral("Refreshing list\u2026");
    return parts.join(QLatin1Char(' '));
}

} // namespace

QStringList MainWindow::selectedCids() const
{
    QStringList cids;
    forEachSelectedPin(tableView, proxy, model, [&cids](const PinEntry& pin) { cids.append(pin.cid); });
    return cids;
}

QString MainWindow::firstSelectedCid() const
{
    const int row = firstSelectedRow();
    if (row < 0)
        return {};
    return proxy->data(proxy->index(row, PinModel::CidColumn), Qt::UserRole).toString();
}

// The row selectedRows() would list first, found without building the list: a select-all of a
// million rows is one range.
int MainWindow::firstSelectedRow() const
{
    if (!tableView || !tableView->selectionModel())
        return -1;
    const QItemSelectionModel* selection = tableView->selectionModel();
    const QItemSelection ranges = selection->selection();
    for (const QItemSelectionRange& range : ranges) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (selection->isRowSelected(row, range.parent()))
                return row;
        }
    }
    return -1;
}

// True when a whole row other than `row` is selected; stops at the first one found.
bool MainWindow::otherRowSelected(int row) const
{
    const QItemSelectionModel* selection = tableView->selectionModel();
    const QItemSelection ranges = selection->selection();
    for (const QItemSelectionRange& range : ranges) {
        for (int other = range.top(); other <= range.bottom(); ++other) {
            if (other != row && selection->isRowSelected(other, range.parent()))
                return true;
        }
    }
    return false;
}

void MainWindow::onCopySelectedCID()
{
    const QStringList cids = selectedCids();
    if (cids.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(cids.join(QLatin1Char('\n')));
    setStatusMessage(QStringLiteral("%1 CID(s) copied to clipboard").arg(cids.size()));
    scheduleStatusReset(
        3000, [](const QString& status) { return status.contains(QLatin1String("copied to clipboard")); });
}

void MainWindow::onOpenInGateway()
{
    const QString cid = firstSelectedCid();
    if (cid.isEmpty())
        return;
    QDesktopServices::openUrl(publicIpfsUrl(cid));
    setStatusMessage(QStringLiteral("Opening %1 in browser\u2026").arg(cid));
    scheduleStatusReset(
        3000, [](const QString& status) { return status.startsWith(QLatin1String("Opening ")); });
}

void MainWindow::onOpenFromLocal()
{
    const QString cid = firstSelectedCid();
    if (cid.isEmpty())
        return;
    QDesktopServices::openUrl(localGatewayUrl(client->endpointHost(), cid));
    setStatusMessage(QStringLiteral("Opening %1 from local gateway\u2026").arg(cid));
    scheduleStatusReset(
        3000, [](const QString& status) { return status.startsWith(QLatin1String("Opening ")); });
}

// The listing prints CIDv0 pins in their CIDv1 form: the client looks for both forms.
void MainWindow::onUnpinSelected()
{
    if (contentMode != kPinnedMode)
        return;
    QList<PinEntry> pins;
    forEachSelectedPin(tableView, proxy, model, [&pins](const PinEntry& pin) { pins.append(pin); });
    if (!pins.isEmpty())
        client->unpinPins(pins, true);
}

void MainWindow::onUnpinAll()
{
    if (contentMode != kPinnedMode)
        return;
    // The rows the table lists: what a search hides stays pinned.
    QList<PinEntry> pins;
    const int shown = proxy->rowCount();
    const bool allShown = shown == model->rowCount();
    pins.reserve(shown);
    for (int row = 0; row < shown; ++row) {
        const PinEntry* pin
            = model->pinAt(allShown ? row : proxy->mapToSource(proxy->index(row, PinModel::CidColumn)).row());
        if (pin && !pin->cid.isEmpty())
            pins.append(*pin);
    }
    if (!pins.isEmpty())
        client->unpinPins(pins, true);
}

void MainWindow::onUnpinned(const UnpinReport& report)
{
    const qsizetype removed = report.removed.size();
    const bool complete = report.notPinned.isEmpty() && report.failed.isEmpty();
    showNotification(unpinSummary(report), !complete);
    if (removed == 0) {
        setStatusMessage(QStringLiteral("Error: ") + unpinSummary(report));
        scheduleStatusReset(
            8000, [](const QString& status) { return status.startsWith(QLatin1String("Error: ")); });
        return;
    }
    setStatusMessage(complete ? QStringLiteral("Unpinned %1 CID(s)").arg(removed)
                              : QStringLiteral("Unpinned %1 of %2 CID(s)").arg(removed).arg(report.asked() - report.indirectLeftOut));
    // The table drops what went by asking the node again. The add flow may unpin while the
    // table shows unpinned local content: reload what the table shows, never pins into the
    // "Not pinned" view.
    if (contentMode == kPinnedMode)
        client->fetchPins(typeFilter, QStringLiteral("base32"), true, cidsToShareWithTheNextList());
    else
        client->fetchUnpinned();
    scheduleStatusReset(
        4000, [](const QString& status) { return status.startsWith(QLatin1String("Unpinned ")); });
}

void MainWindow::onSelectionChanged()
{
    const bool pinned = contentMode == kPinnedMode;
    const bool hasSelection
        = tableView && tableView->selectionModel() && tableView->selectionModel()->hasSelection();
    if (unpinSelectedAction)
        unpinSelectedAction->setEnabled(hasSelection && pinned);
    if (publishToIpnsAction)
        publishToIpnsAction->setEnabled(hasSelection && pinned);
    if (unpinAllAction)
        unpinAllAction->setEnabled(pinned && model->rowCount() > 0);
}

void MainWindow::onTableContextMenuRequested(const QPoint& pos)
{
    const QModelIndex index = tableView->indexAt(pos);
    if (!index.isValid())
        return;
    const int row = index.row();
    const bool pinned = contentMode == kPinnedMode;
    QItemSelectionModel* selection = tableView->selectionModel();
    const QPoint globalPos = tableView->viewport()->mapToGlobal(pos);

    QMenu menu(this);
    if (pinned && selection->isRowSelected(row, index.parent()) && otherRowSelected(row)) {
        QAction* unpin = menu.addAction(QStringLiteral("Unpin"));
        connect(unpin, &QAction::triggered, this, &MainWindow::onUnpinSelected);
        menu.exec(globalPos);
        return;
    }

    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QString cid = proxy->data(proxy->index(row, PinModel::CidColumn), Qt::UserRole).toString();
    const QString type = proxy->data(proxy->index(row, PinModel::TypeColumn)).toString();

    if (type == kRecursiveType && !cid.isEmpty()) {
        // The pin's own name: the column shows a placeholder for a pin without one.
        const QString name
            = proxy->data(proxy->index(row, PinModel::NameColumn), PinModel::SortRole).toString();
        QAction* indirect = menu.addAction(QStringLiteral("Show indirect pins"));
        connect(indirect, &QAction::triggered, this, [this, cid] { onShowIndirectPins(cid); });
        QAction* contents = menu.addAction(QStringLiteral("List files / Export\u2026"));
        connect(contents, &QAction::triggered, this, [this, cid, name] {
            auto* dialog = new PinContentsDialog(cid, client, this, name);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
        });
        menu.addSeparator();
    }
    if (pinned) {
        QAction* publish = menu.addAction(QStringLiteral("Publish to IPNS..."));
        connect(publish, &QAction::triggered, this, &MainWindow::onPublishToIpnsClicked);
        QAction* unpin = menu.addAction(QStringLiteral("Unpin"));
        connect(unpin, &QAction::triggered, this, &MainWindow::onUnpinSelected);
        menu.addSeparator();
    }
    QAction* copy = menu.addAction(QStringLiteral("Copy CID"));
    connect(copy, &QAction::triggered, this, &MainWindow::onCopySelectedCID);
    QAction* openViaIpns = menu.addAction(QStringLiteral("Open via IPNS..."));
    connect(openViaIpns, &QAction::triggered, this, &MainWindow::onOpenViaIpnsClicked);
    QAction* gateway = menu.addAction(QStringLiteral("Open from gateway"));
    connect(gateway, &QAction::triggered, this, &MainWindow::onOpenInGateway);
    QAction* local = menu.addAction(QStringLiteral("Open from local"));
    connect(local, &QAction::triggered, this, &MainWindow::onOpenFromLocal);
    menu.exec(globalPos);
}

void MainWindow::onTableDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    const QString type = proxy->data(proxy->index(row, PinModel::TypeColumn)).toString();
    const QString cid = proxy->data(proxy->index(row, PinModel::CidColumn), Qt::UserRole).toString();
    if (type == kRecursiveType && !cid.isEmpty())
        onShowIndirectPins(cid);
    else
        onCopySelectedCID();
}

void MainWindow::onShowIndirectPins(const QString& rootCid)
{
    auto* dialog = new IndirectPinsDialog(rootCid, client, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
