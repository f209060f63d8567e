#include "swarmparsers.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

QString firstNonEmptyString(const QJsonObject& object, const QStringList& keys)
{
    for (const QString& key : keys) {
        const QString text = object.value(key).toString().trimmed();
        if (!text.isEmpty())
            return text;
    }
    return {};
}

QStringList trimmedNonEmptyStrings(const QJsonValue& value)
{
    QStringList result;
    const QJsonArray array = value.toArray();
    result.reserve(array.size());
    for (const QJsonValue& element : array) {
        const QString text = element.toString().trimmed();
        if (!text.isEmpty())
            result.append(text);
    }
    return result;
}

QStringList parseBootstrapPeers(const QJsonObject& object)
{
    const QJsonValue peers = object.value("Peers"_L1);
    if (peers.isArray())
        return trimmedNonEmptyStrings(peers);
    const QJsonValue bootstrapPeers = object.value("BootstrapPeers"_L1);
    if (bootstrapPeers.isArray())
        return trimmedNonEmptyStrings(bootstrapPeers);
    return {};
}

namespace {

// A node sends the connection's transport address and the peer id apart; only the two together
// name the peer for a disconnect, and that is the form the node prints itself.
QString withPeerId(const QString& address, const QString& id)
{
    if (id.isEmpty() || address.endsWith(u"/p2p/"_s + id) || address.endsWith(u"/ipfs/"_s + id))
        return address;
    return address + u"/p2p/"_s + id;
}

} // namespace

QStringList parseSwarmPeers(const QJsonObject& object)
{
    const QJsonValue peers = object.value("Peers"_L1);
    if (!peers.isArray())
        return trimmedNonEmptyStrings(object.value("Strings"_L1));

    const QStringList addressKeys = { u"Addr"_s, u"Address"_s, u"addr"_s, u"address"_s };
    const QStringList idKeys = { u"Peer"_s, u"ID"_s, u"Id"_s, u"id"_s, u"peer"_s };

    const QJsonArray array = peers.toArray();
    QStringList result;
    result.reserve(array.size());
    for (const QJsonValue& element : array) {
        QString entry;
        if (element.isObject()) {
            const QJsonObject peer = element.toObject();
            const QString address = firstNonEmptyString(peer, addressKeys);
            const QString id = firstNonEmptyString(peer, idKeys);
            entry = address.isEmpty() ? id : withPeerId(address, id);
        } else {
            entry = element.toString().trimmed();
        }
        if (!entry.isEmpty())
            result.append(entry);
    }
    return result;
}

QHash<QString, QStringList> parseSwarmAddrs(const QJsonObject& object)
{
    QHash<QString, QStringList> table;
    const QJsonObject addrs = object.value("Addrs"_L1).toObject();
    table.reserve(addrs.size());
    for (auto it = addrs.constBegin(); it != addrs.constEnd(); ++it) {
        const QString peerId = it.key().trimmed();
        if (peerId.isEmpty() || !it.value().isArray())
            continue;
        table.insert(peerId, trimmedNonEmptyStrings(it.value()));
    }
    return table;
}
