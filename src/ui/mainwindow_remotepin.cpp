#include "mainwindow.h"

#include "ipfsclient.h"

#include <QTimer>

namespace {

// Polls of one flow; with the 2500 ms period the last comes about five minutes after the start.
constexpr int kRemotePinMaxPolls = 120;

} // namespace

void MainWindow::setRemotePinPollInterval(int ms)
{
    remotePinPollTimer->setInterval(ms);
}

void MainWindow::startRemotePinFlow(const QString& rootCid, const QList<AddEntry>& entries)
{
    const QString service = pendingAddOptions.remoteServiceNickname.trimmed();
    if (service.isEmpty()) {
        showNotification(QStringLiteral("Remote pin skipped: no remote service was provided."), true);
        return;
    }

    QSet<QString> cids;
    if (!rootCid.isEmpty()) {
        cids.insert(rootCid);
    } else {
        for (const AddEntry& entry : entries) {
            const QString hash = entry.hash.trimmed();
            if (!hash.isEmpty())
                cids.insert(hash);
        }
    }
    if (cids.isEmpty()) {
        showNotification(QStringLiteral("Remote pin skipped: no CID returned from add."), true);
        return;
    }

    // A flow still polling for an earlier add is replaced.
    remotePinPollCount = 0;
    remotePinActive = true;
    remotePinService = service;
    remotePinName = pendingAddOptions.remoteLabel.trimmed();
    remotePinUnpinLocal = pendingAddOptions.unpinLocalAfterRemote;
    remotePinPending = cids;
    remotePinPinned.clear();
    remotePinFailed.clear();
    for (const QString& cid : std::as_const(cids))
        client->remotePinAdd(cid, remotePinService, remotePinName, true);
    if (!remotePinActive)
        return; // every request was refused inside the call and the flow is over
    remotePinPollTimer->start();
    onRemotePinPollTick();
}

bool MainWindow::belongsToRemotePinFlow(const QString& cid, const QString& service) const
{
    // Answers to the last poll of a finished flow, or to a flow that a newer add replaced,
    // arrive late; they must neither count in the running flow nor cover its summary.
    return remotePinActive && service == remotePinService && remotePinPending.contains(cid);
}

void MainWindow::onRemotePinQueued(const QString& cid, const QString& service)
{
    if (!belongsToRemotePinFlow(cid, service))
        return;
    setStatusMessage(QStringLiteral("Remote pin queued for %1 via service '%2'.").arg(cid, service));
}

void MainWindow::onRemotePinQueueFailed(const QString& cid, const QString& service, const QString& message)
{
    if (!belongsToRemotePinFlow(cid, service))
        return;
    remotePinPending.remove(cid);
    remotePinFailed.insert(cid);
    showNotification(QStringLiteral("Remote pin queue failed (%1): %2").arg(service, message), true);
    if (remotePinPending.isEmpty())
        finalizeRemotePinFlow();
}

void MainWindow::onRemotePinStatusReceived(const QString& cid, const QString& service, const QString& status)
{
    if (!belongsToRemotePinFlow(cid, service))
        return;
    const QString normalized = status.trimmed().toLower();
    if (normalized == QLatin1String("pinned")) {
        remotePinPending.remove(cid);
        remotePinPinned.insert(cid);
    } else if (normalized == QLatin1String("failed")) {
        remotePinPending.remove(cid);
        remotePinFailed.insert(cid);
    }
    setStatusMessage(
        QStringLiteral("Remote pin status (%1): %2 pinned, %3 pending, %4 failed.")
            .arg(service, QString::number(remotePinPinned.size()), QString::number(remotePinPending.size()),
                QString::number(remotePinFailed.size())));
    if (remotePinPending.isEmpty())
        finalizeRemotePinFlow();
}

void MainWindow::onRemotePinStatusFailed(const QString& cid, const QString& service, const QString& message)
{
    if (!belongsToRemotePinFlow(cid, service))
        return;
    // The CID stays pending and is asked again at the next poll.
    showNotification(QStringLiteral("Remote status check failed (%1): %2").arg(service, message), true);
}

void MainWindow::onRemotePinPollTick()
{
    if (!remotePinActive)
        return;
    if (remotePinPending.isEmpty()) {
        finalizeRemotePinFlow();
        return;
    }

    ++remotePinPollCount;
    for (const QString& cid : std::as_const(remotePinPending))
        client->fetchRemotePinStatus(cid, remotePinService);

    if (remotePinPollCount >= kRemotePinMaxPolls) {
        remotePinFailed.unite(remotePinPending);
        remotePinPending.clear();
        finalizeRemotePinFlow();
    }
}

void MainWindow::finalizeRemotePinFlow()
{
    if (!remotePinActive)
        return;
    remotePinActive = false;
    remotePinPollTimer->stop();

    if (remotePinUnpinLocal && !remotePinPinned.isEmpty()) {
        QStringList pinned(remotePinPinned.cbegin(), remotePinPinned.cend());
        pinned.sort();
        client->unpin(pinned, true);
    }

    const qsizetype pinned = remotePinPinned.size();
    const qsizetype failed = remotePinFailed.size();
    showNotification(QStringLiteral("Remote pin flow finished: %1 pinned, %2 failed.")
                         .arg(QString::number(pinned), QString::number(failed)),
        failed > 0);
    setStatusMessage(QStringLiteral("Remote pin complete on '%1': %2 pinned, %3 failed.")
                         .arg(remotePinService, QString::number(pinned), QString::number(failed)));

    remotePinService.clear();
    remotePinName.clear();
    remotePinUnpinLocal = false;
    remotePinPollCount = 0;
    remotePinPending.clear();
    remotePinPinned.clear();
    remotePinFailed.clear();
}
