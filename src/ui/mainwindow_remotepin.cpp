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

bool MainWindow::startRemotePinFlow(const QString& rootCid, const QList<AddEntry>& entries)
{
    const QString service = pendingAddOptions.remoteServiceNickname.trimmed();
    if (service.isEmpty()) {
        showNotification(QStringLiteral("Remote pin skipped: no remote service was provided."), true);
        return false;
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
        return false;
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
    remotePinAwaiting.clear();
    remotePinLastAnswer.clear();
    for (const QString& cid : std::as_const(cids))
        client->remotePinAdd(cid, remotePinService, remotePinName, true);
    if (!remotePinActive)
        return true; // every request was refused inside the call and the flow is over
    remotePinPollTimer->start();
    onRemotePinPollTick();
    return true;
}

bool MainWindow::belongsToRemotePinFlow(const QString& cid, const QString& service) const
{
    // Answers to a flow that a newer add replaced arrive late; they must neither count in the
    // running flow nor cover its summary.
    return remotePinActive && service == remotePinService && remotePinPending.contains(cid);
}

bool MainWindow::settleRemotePinAnswer(const QString& cid, const QString& service)
{
    // True when this answer was the last one the running poll waited for.
    if (!remotePinActive || service != remotePinService || !remotePinAwaiting.remove(cid))
        return false;
    return remotePinAwaiting.isEmpty();
}

void MainWindow::failRemotePin(const QString& cid, const QString& reason)
{
    remotePinPending.remove(cid);
    remotePinFailed.insert(cid, reason);
    setStatusMessage(reason);
}

void MainWindow::setRemotePinStatusLine()
{
    setStatusMessage(
        QStringLiteral("Remote pin status (%1): %2 pinned, %3 pending, %4 failed.")
            .arg(remotePinService, QString::number(remotePinPinned.size()),
                QString::number(remotePinPending.size()), QString::number(remotePinFailed.size())));
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
    failRemotePin(cid, message);
    showNotification(QStringLiteral("Remote pin queue failed (%1): %2").arg(service, message), true);
    updateAddResult();
    if (remotePinPending.isEmpty())
        finalizeRemotePinFlow();
}

void MainWindow::onRemotePinStatusReceived(const QString& cid, const QString& service, const QString& status)
{
    const bool pollOver = settleRemotePinAnswer(cid, service);
    const QString normalized = status.trimmed().toLower();
    bool changed = false;
    if (belongsToRemotePinFlow(cid, service)) {
        remotePinLastAnswer.insert(cid, normalized);
        if (normalized == QLatin1String("pinned")) {
            remotePinPending.remove(cid);
            remotePinPinned.insert(cid);
            changed = true;
        } else if (normalized == QLatin1String("failed")) {
            // The node passes on no reason the service may have had.
            failRemotePin(
                cid, QStringLiteral("Remote pin failed for %1: the service reports it as failed.").arg(cid));
            changed = true;
        }
    }
    // One line per change and per poll, not per answer: a poll may ask for hundreds of CIDs.
    if (changed || pollOver)
        setRemotePinStatusLine();
    if (changed)
        updateAddResult();
    if (remotePinActive && remotePinPending.isEmpty())
        finalizeRemotePinFlow();
    else if (pollOver)
        endRemotePinPoll();
}

void MainWindow::onRemotePinStatusFailed(const QString& cid, const QString& service, const QString& message)
{
    const bool pollOver = settleRemotePinAnswer(cid, service);
    if (belongsToRemotePinFlow(cid, service)) {
        // The CID stays pending and is asked again at the next poll.
        const QString lead = QStringLiteral("Remote pin status failed for %1: ").arg(cid);
        remotePinLastAnswer.insert(cid, message.startsWith(lead) ? message.mid(lead.size()) : message);
        showNotification(QStringLiteral("Remote status check failed (%1): %2").arg(service, message), true);
    }
    if (pollOver)
        endRemotePinPoll();
}

void MainWindow::onRemotePinPollTick()
{
    if (!remotePinActive)
        return;
    if (remotePinPending.isEmpty()) {
        finalizeRemotePinFlow();
        return;
    }
    // A service slower than the period is not asked again before it has answered the last poll.
    if (!remotePinAwaiting.isEmpty())
        return;

    ++remotePinPollCount;
    remotePinAwaiting = remotePinPending;
    QStringList cids(remotePinPending.cbegin(), remotePinPending.cend());
    cids.sort();
    client->fetchRemotePinStatus(cids, remotePinService);
}

void MainWindow::endRemotePinPoll()
{
    // The last poll has been answered in full: what is still pending has had its chances.
    if (!remotePinActive || remotePinPollCount < kRemotePinMaxPolls)
        return;
    QStringList stuck(remotePinPending.cbegin(), remotePinPending.cend());
    stuck.sort();
    for (const QString& cid : std::as_const(stuck)) {
        failRemotePin(cid,
            QStringLiteral("Remote pin failed for %1: no final status after %2 polls (last answer: %3).")
                .arg(cid, QString::number(kRemotePinMaxPolls),
                    remotePinLastAnswer.value(cid, QStringLiteral("none"))));
    }
    finalizeRemotePinFlow();
}

void MainWindow::finalizeRemotePinFlow()
{
    if (!remotePinActive)
        return;
    updateAddResult();
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

    // The open result box keeps the outcome it shows now.
    addResultFollowsRemotePins = false;
    remotePinService.clear();
    remotePinName.clear();
    remotePinUnpinLocal = false;
    remotePinPollCount = 0;
    remotePinPending.clear();
    remotePinPinned.clear();
    remotePinFailed.clear();
    remotePinAwaiting.clear();
    remotePinLastAnswer.clear();
}
