// Connect, disconnect and bootstrap editing of the swarm window.
#include "swarmdialog.h"

#include "ipfsclient.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

using namespace Qt::StringLiterals;

namespace {

// Selected rows the user can see: a filter may hide rows that are still selected.
QStringList selectedVisibleTexts(const QTableWidget* table)
{
    QStringList texts;
    const QModelIndexList rows = table->selectionModel()->selectedRows(0);
    for (const QModelIndex& index : rows) {
        if (table->isRowHidden(index.row()))
            continue;
        const QTableWidgetItem* item = table->item(index.row(), 0);
        const QString text = item ? item->text().trimmed() : QString();
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts;
}

} // namespace

void SwarmDialog::onConnectClicked()
{
    const QString target = peerEdit->text().trimmed();
    if (target.isEmpty()) {
        setStatus(u"Peer multiaddr is required."_s, true);
        emit statusMessageRequested(u"Swarm connect failed: peer multiaddr is required"_s);
        return;
    }
    setStatus(u"Connecting to %1..."_s.arg(target));
    emit statusMessageRequested(u"Connecting to swarm peer: %1"_s.arg(target));
    client->swarmConnect(target);
}

void SwarmDialog::onDisconnectSelectedClicked()
{
    const QStringList selected = selectedVisibleTexts(peersTable);
    const QString target = selected.isEmpty() ? peerEdit->text().trimmed() : selected.first();
    if (target.isEmpty()) {
        setStatus(u"Select a connected peer row or enter a multiaddr."_s, true);
        emit statusMessageRequested(u"Swarm disconnect failed: no target selected"_s);
        return;
    }
    setStatus(u"Disconnecting from %1..."_s.arg(target));
    emit statusMessageRequested(u"Disconnecting swarm peer: %1"_s.arg(target));
    client->swarmDisconnect(target);
}

void SwarmDialog::onConnectResult(const QString& target, bool ok, const QStringList& messages)
{
    if (!ok)
        return; // already shown by onRequestFailed
    const QString text = messages.isEmpty() ? u"Connected."_s : messages.join(" | "_L1);
    setStatus(u"Connect: %1"_s.arg(text));
    emit statusMessageRequested(u"Swarm connect success: %1"_s.arg(target));
    client->fetchSwarmPeers();
}

void SwarmDialog::onDisconnectResult(const QString& target, bool ok, const QStringList& messages)
{
    if (!ok)
        return;
    const QString text = messages.isEmpty() ? u"Disconnected."_s : messages.join(" | "_L1);
    setStatus(u"Disconnect: %1"_s.arg(text));
    emit statusMessageRequested(u"Swarm disconnect success: %1"_s.arg(target));
    client->fetchSwarmPeers();
}

void SwarmDialog::onRefreshBootstrapClicked()
{
    setStatus(u"Loading bootstrap peers..."_s);
    emit statusMessageRequested(u"Fetching bootstrap peers..."_s);
    client->fetchBootstrapPeers(false);
}

void SwarmDialog::onBootstrapAddClicked()
{
    const QString address = bootstrapEdit->text().trimmed();
    if (address.isEmpty()) {
        setStatus(u"Bootstrap peer address is required."_s, true);
        emit statusMessageRequested(u"Bootstrap add failed: peer address is required"_s);
        return;
    }
    setStatus(u"Adding bootstrap peer %1..."_s.arg(address));
    emit statusMessageRequested(u"Adding bootstrap peer: %1"_s.arg(address));
    client->bootstrapAddPeer(address);
}

void SwarmDialog::onBootstrapRemoveSelectedClicked()
{
    QStringList targets = selectedVisibleTexts(bootstrapTable);
    if (targets.isEmpty()) {
        const QString typed = bootstrapEdit->text().trimmed();
        if (!typed.isEmpty())
            targets.append(typed);
    }
    if (targets.isEmpty()) {
        setStatus(u"Select bootstrap peers to remove or enter one in the field."_s, true);
        emit statusMessageRequested(u"Bootstrap remove failed: no peer selected"_s);
        return;
    }
    setStatus(u"Removing %1 bootstrap peer(s)..."_s.arg(targets.size()));
    emit statusMessageRequested(u"Removing %1 bootstrap peer(s)"_s.arg(targets.size()));
    client->bootstrapRemovePeers(targets);
}

void SwarmDialog::onBootstrapRemoveAllClicked()
{
    const auto answer = QMessageBox::warning(this, u"Remove all bootstrap peers"_s,
        u"This will remove all bootstrap peers from your local Kubo node.\n\nContinue?"_s,
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    setStatus(u"Removing all bootstrap peers..."_s);
    emit statusMessageRequested(u"Removing all bootstrap peers"_s);
    client->bootstrapRemoveAllPeers();
}

// A node answers an add or remove with the peers it added or removed, not with the list that
// remains, so the list is read again; the table keeps its rows until that answer.
void SwarmDialog::onBootstrapAddResult(const QString& peer, bool ok, const QStringList& /*changed*/)
{
    if (!ok)
        return;
    setStatus(u"Added bootstrap peer: %1"_s.arg(peer));
    emit statusMessageRequested(u"Bootstrap peer added: %1"_s.arg(peer));
    client->fetchBootstrapPeers(false);
}

void SwarmDialog::onBootstrapRemoveResult(const QStringList& removed, bool ok, const QStringList& /*changed*/)
{
    if (!ok)
        return;
    // Only a remove-all reports no removed peers.
    if (removed.isEmpty()) {
        setStatus(u"Removed all bootstrap peers."_s);
        emit statusMessageRequested(u"Bootstrap peers removed: all"_s);
    } else {
        setStatus(u"Removed %1 bootstrap peer(s)."_s.arg(removed.size()));
        emit statusMessageRequested(u"Bootstrap peers removed: %1"_s.arg(removed.size()));
    }
    client->fetchBootstrapPeers(false);
}
