#include "mainwindow.h"

#include "ipfsclient.h"
#include "pinmodel.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace {

const QString kPinnedMode = QStringLiteral("pinned");
const QString kUnpinnedMode = QStringLiteral("unpinned");

// With this many CIDs in a load, the count lines are also brought up to date between timer
// runs, at most once a second, so that progress stays visible on a busy table.
constexpr int kImmediateUpdateThreshold = 2500;
constexpr qint64 kImmediateUpdateSpacingMs = 999;
// Time a slice of metadata requests may take on the GUI thread.
constexpr qint64 kMetadataSliceMs = 8;
// Up to this many rows, the first slice runs as the load arrives.
constexpr int kSynchronousFirstSliceRows = 50000;

} // namespace

// Sizes and kinds the caches know are shown at once; the client asks for the rest. A large table
// is worked through a slice per turn of the event loop, so that the window stays responsive while a
// million rows are looked at. The rows are read from the model: a copy of the list kept here would
// make the model's first write copy them.
void MainWindow::requestSizesAndKinds()
{
    const quint64 load = model->loadGeneration();
    metadataBacklogLoad = load;
    metadataBacklogNext = 0;
    metadataFeed.restart(load);
    // Every table holding what grows with the answers is given its room now, in one step:
    // growing a million entries one at a time rehashes them whole at every doubling.
    metadataProgress.reserve(model->pinCount());
    metadataFeed.reserve(model->pinCount());
    // Never below the size: reserve(0) would squeeze what is cached.
    dagSizeCache.reserve(qMax(dagSizeCache.size(), qsizetype(model->pinCount())));
    kindCache.reserve(qMax(kindCache.size(), qsizetype(model->pinCount())));
    if (model->pinCount() <= kSynchronousFirstSliceRows) {
        requestNextMetadataSlice();
        return;
    }
    // Until the load's delivery returns, the client still shares the rows with the model, and a
    // cached value written into them now would copy them all.
    QTimer::singleShot(0, this, [this, load] {
        if (metadataBacklogLoad == load && metadataBacklogNext >= 0)
            requestNextMetadataSlice();
    });
}

void MainWindow::requestNextMetadataSlice()
{
    QElapsedTimer slice;
    slice.start();
    const int pinTotal = model->pinCount();
    int next = metadataBacklogNext;
    for (; next < pinTotal; ++next) {
        if ((next & 255) == 0 && slice.elapsed() >= kMetadataSliceMs)
            break;
        const QString& cid = model->pinAtIndex(next).cid;
        if (cid.isEmpty())
            continue;
        metadataProgress.request(cid);
        const auto size = dagSizeCache.constFind(cid);
        if (size != dagSizeCache.constEnd()) {
            model->setDagSize(cid, *size);
            metadataProgress.setSize(cid, true);
        } else {
            metadataFeed.addSize(next);
        }
        const auto kind = kindCache.constFind(cid);
        if (kind != kindCache.constEnd()) {
            model->setKind(cid, *kind);
            metadataProgress.setKind(cid, true);
        } else {
            metadataFeed.addKind(next);
        }
    }
    feedMetadataRequests();
    if (next >= pinTotal) {
        // Every row is looked at; the feed goes on as the answers come.
        metadataBacklogNext = -1;
        return;
    }
    metadataBacklogNext = next;
    const quint64 load = metadataBacklogLoad;
    QTimer::singleShot(0, this, [this, load] {
        // A newer load (or a forced refresh) has replaced the backlog meanwhile.
        if (metadataBacklogLoad != load || metadataBacklogNext < 0)
            return;
        requestNextMetadataSlice();
        // The count lines show how many CIDs take part so far.
        scheduleCountUpdate();
    });
}

// Keeps a few requests of each kind waiting in the client, so that its slots never run dry while
// it holds no more than these.
void MainWindow::feedMetadataRequests()
{
    constexpr int kRequestsWaitingAhead = 64;
    if (metadataFeed.load() != model->loadGeneration())
        return;
    while (client->waitingSizeRequests() < kRequestsWaitingAhead) {
        const int pin = metadataFeed.takeSize();
        if (pin < 0)
            break;
        client->fetchObjectStat(model->pinAtIndex(pin).cid);
    }
    while (client->waitingKindRequests() < kRequestsWaitingAhead) {
        const int pin = metadataFeed.takeKind();
        if (pin < 0)
            break;
        client->fetchKind(model->pinAtIndex(pin).cid);
    }
}

void MainWindow::dropMetadataBacklog()
{
    metadataBacklogNext = -1;
    metadataFeed.restart(0);
}

void MainWindow::onRefsReceivedForTable(const QString& rootCid, const QStringList& refs)
{
    // The same answer also serves the indirect pins window; only our own requests count here.
    if (!refsRequested.remove(rootCid))
        return;
    model->setRefsCount(rootCid, int(refs.size()));
}

// A failed request leaves its cell unknown ("…") and is asked again by the next load; the count
// line says how many failed.
void MainWindow::onRefsFailedForTable(const QString& rootCid)
{
    if (!refsRequested.remove(rootCid))
        return;
    metadataProgress.setRefsFailed(rootCid);
    scheduleCountUpdate();
}

void MainWindow::onDagStatReceived(const QString& cid, qlonglong cumulativeSize)
{
    model->setDagSize(cid, cumulativeSize);
    // -1: the request failed, or the node gave no size.
    const bool known = cumulativeSize >= 0;
    if (known)
        dagSizeCache.insert(cid, cumulativeSize);
    metadataProgress.setSize(cid, known);
    feedMetadataRequests();
    scheduleCountUpdate();
}

void MainWindow::onKindReceived(const QString& cid, const QString& kind)
{
    model->setKind(cid, kind);
    if (!kind.isEmpty())
        kindCache.insert(cid, kind);
    metadataProgress.setKind(cid, !kind.isEmpty());
    feedMetadataRequests();
    scheduleCountUpdate();
}

void MainWindow::onKindFailed(const QString& cid)
{
    metadataProgress.setKind(cid, false);
    feedMetadataRequests();
    scheduleCountUpdate();
}

void MainWindow::scheduleCountUpdate()
{
    // A running timer is left alone (setInterval would restart it), so a stream of answers
    // gives one update per interval.
    if (!countUpdateTimer->isActive()) {
        countUpdateTimer->setInterval(countUpdateIntervalMs());
        countUpdateTimer->start();
    }
    if (metadataProgress.requested() <= kImmediateUpdateThreshold)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool recentlyUpdated
        = lastCountUpdateMs != 0 && now - lastCountUpdateMs <= kImmediateUpdateSpacingMs;
    if (recentlyUpdated && !metadataProgress.settled())
        return;
    lastCountUpdateMs = now;
    updateCountLabels();
}

int MainWindow::countUpdateIntervalMs() const
{
    if (!model)
        return 100;
    const int rows = model->rowCount();
    if (rows < 2000)
        return 100;
    if (rows < 5000)
        return 350;
    if (rows < 10000)
        return 600;
    return 900;
}

qint64 MainWindow::visibleDagSizeTotal() const
{
    const int shown = proxy->rowCount();
    // Every row is shown: the model keeps that sum itself.
    if (shown == model->rowCount())
        return model->knownDagSizeTotal();
    qint64 total = 0;
    for (int row = 0; row < shown; ++row) {
        const QModelIndex source = proxy->mapToSource(proxy->index(row, PinModel::CidColumn));
        total += qMax<qint64>(model->rowKeysAt(source.row()).dagSize, 0);
    }
    return total;
}

void MainWindow::updateCountLabels()
{
    const bool pinned = contentMode == kPinnedMode;
    const int shown = proxy->rowCount();
    const int total = model->rowCount();
    const int requested = metadataProgress.requested();
    const int failed = metadataProgress.failed();
    const bool searching = !searchEdit->text().isEmpty();

    QString sizeText = QStringLiteral("\u2014");
    if (pinned && shown >= 1) {
        const qint64 sum = visibleDagSizeTotal();
        if (sum >= 1)
            sizeText = PinModel::formatSize(sum);
    }

    QString text;
    if (contentMode != kUnpinnedMode) {
        const PinTypeCounts counts = model->countsByType();
        text = searching ? QStringLiteral("%1 / %2 shown  |  R:%3  D:%4  I:%5")
                               .arg(shown)
                               .arg(total)
                               .arg(counts.recursive)
                               .arg(counts.direct)
                               .arg(counts.indirect)
                         : QStringLiteral("Total: %1  |  Recursive: %2  |  Direct: %3  |  Indirect: %4")
                               .arg(total)
                               .arg(counts.recursive)
                               .arg(counts.direct)
                               .arg(counts.indirect);
    } else {
        text = searching ? QStringLiteral("%1 / %2 shown (unpinned)").arg(shown).arg(total)
                         : QStringLiteral("Total: %1 (unpinned)").arg(total);
    }
    text += QStringLiteral("  |  Total DAG size of all displayed CIDs: ") + sizeText;
    if (loadMetadata && pinned && requested >= 1) {
        text += QStringLiteral("  |  Metadata loaded: %1/%2 CIDs")
                    .arg(metadataProgress.loaded())
                    .arg(requested);
        if (failed >= 1)
            text += QStringLiteral(", %1 failed").arg(failed);
    } else if (pinned && failed >= 1) {
        // Only refs are asked for without metadata loading.
        text += QStringLiteral("  |  Metadata failed for %1 CIDs").arg(failed);
    }

    // The shown and type counts go on the first line, the totals on the second.
    qsizetype pos = text.indexOf(QLatin1String("Total:"));
    if (pos < 0)
        pos = text.indexOf(QLatin1String("Total DAG size"));
    QString firstLine;
    QString secondLine = text;
    if (pos >= 0) {
        firstLine = text.left(pos).trimmed();
        while (firstLine.endsWith(u'|'))
            firstLine.chop(1);
        firstLine = firstLine.trimmed();
        secondLine = text.mid(pos).trimmed();
    }
    statsLine1->setText(firstLine);
    statsLine1->setVisible(!firstLine.isEmpty());
    countLabel->setText(secondLine);
}
