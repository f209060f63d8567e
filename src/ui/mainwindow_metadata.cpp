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
constexpr qint64 kMetadataSliceMs = 15;

} // namespace

// Sizes and kinds the caches know are shown at once; the client asks for the rest. A large table
// is worked through a slice per turn of the event loop, so that the window stays responsive while a
// million rows are queued (the node answers far slower than they are queued anyway).
void MainWindow::requestSizesAndKinds(const QList<PinEntry>& rows)
{
    metadataBacklog = rows;
    metadataBacklogNext = 0;
    metadataRequested.reserve(rows.size());
    requestNextMetadataSlice();
}

void MainWindow::requestNextMetadataSlice()
{
    QElapsedTimer slice;
    slice.start();
    const QList<PinEntry> rows = metadataBacklog;
    qsizetype next = metadataBacklogNext;
    for (; next < rows.size(); ++next) {
        if ((next & 255) == 0 && slice.elapsed() >= kMetadataSliceMs)
            break;
        const QString& cid = rows.at(next).cid;
        if (cid.isEmpty())
            continue;
        metadataRequested.insert(cid);
        const auto size = dagSizeCache.constFind(cid);
        if (size != dagSizeCache.constEnd()) {
            model->setDagSize(cid, *size);
            sizeKnown.insert(cid);
        } else {
            client->fetchObjectStat(cid);
        }
        const auto kind = kindCache.constFind(cid);
        if (kind != kindCache.constEnd()) {
            model->setKind(cid, *kind);
            kindKnown.insert(cid);
        } else {
            client->fetchKind(cid);
        }
        if (sizeKnown.contains(cid) && kindKnown.contains(cid))
            metadataComplete.insert(cid);
    }
    metadataBacklogNext = next;
    if (next < rows.size()) {
        QTimer::singleShot(0, this, [this, rows] {
            // A newer load (or a forced refresh) has replaced the backlog meanwhile.
            if (metadataBacklog.constData() == rows.constData() && metadataBacklogNext < rows.size())
                requestNextMetadataSlice();
        });
        return;
    }
    metadataBacklog.clear();
    metadataBacklogNext = 0;
}

void MainWindow::dropMetadataBacklog()
{
    metadataBacklog.clear();
    metadataBacklogNext = 0;
}

void MainWindow::onRefsReceivedForTable(const QString& rootCid, const QStringList& refs)
{
    // The same answer also serves the indirect pins window; only our own requests count here.
    if (!refsRequested.remove(rootCid))
        return;
    model->setRefsCount(rootCid, int(refs.size()));
}

void MainWindow::onDagStatReceived(const QString& cid, qlonglong cumulativeSize)
{
    model->setDagSize(cid, cumulativeSize);
    if (cumulativeSize >= 0)
        dagSizeCache.insert(cid, cumulativeSize);
    // A failed request is over too: the CID counts as answered.
    if (metadataRequested.contains(cid))
        sizeKnown.insert(cid);
    if (kindKnown.contains(cid))
        metadataComplete.insert(cid);
    scheduleCountUpdate();
}

void MainWindow::onKindReceived(const QString& cid, const QString& kind)
{
    model->setKind(cid, kind);
    if (!kind.isEmpty())
        kindCache.insert(cid, kind);
    if (metadataRequested.contains(cid))
        kindKnown.insert(cid);
    if (sizeKnown.contains(cid))
        metadataComplete.insert(cid);
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
    if (metadataRequested.size() <= kImmediateUpdateThreshold)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool recentlyUpdated = lastCountUpdateMs != 0 && now - lastCountUpdateMs <= kImmediateUpdateSpacingMs;
    if (recentlyUpdated && metadataComplete.size() < metadataRequested.size())
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
        const PinEntry* pin = model->pinAt(source.row());
        if (pin && pin->dagSize >= 0)
            total += pin->dagSize;
    }
    return total;
}

void MainWindow::updateCountLabels()
{
    const bool pinned = contentMode == kPinnedMode;
    const int shown = proxy->rowCount();
    const int total = model->rowCount();
    const qsizetype requested = metadataRequested.size();
    const qsizetype complete = metadataComplete.size();
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
    if (loadMetadata && pinned && requested >= 1)
        text += QStringLiteral("  |  Metadata loaded: %1/%2 CIDs").arg(complete).arg(requested);

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
