#include "ipfsclient.h"
#include "swarmparsers.h"

#include <QNetworkReply>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace {

// Addresses are typed or pasted by the user: a '%' in them must reach the node as itself, not
// as the start of an escape ("%41" would arrive as "A").
QUrlQuery argQuery(const QStringList& args)
{
    QUrlQuery query;
    for (const QString& arg : args)
        query.addQueryItem(u"arg"_s, QString(arg).replace(u'%', "%25"_L1));
    return query;
}

} // namespace

void IpfsClient::fetchSwarmPeers()
{
    QNetworkReply* reply = postRequest(u"/swarm/peers"_s, {});
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSwarmPeersReplyFinished(reply); });
}

void IpfsClient::fetchSwarmAddrs()
{
    QNetworkReply* reply = postRequest(u"/swarm/addrs"_s, {});
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSwarmAddrsReplyFinished(reply); });
}

void IpfsClient::fetchSwarmListenAddrs()
{
    QNetworkReply* reply = postRequest(u"/swarm/addrs/listen"_s, {});
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSwarmListenAddrsReplyFinished(reply); });
}

void IpfsClient::swarmConnect(const QString& multiaddr)
{
    const QString target = multiaddr.trimmed();
    if (target.isEmpty()) {
        emit swarmRequestFailed(u"connect"_s, u"Peer multiaddr is required."_s);
        return;
    }
    QNetworkReply* reply = postRequest(u"/swarm/connect"_s, argQuery({ target }));
    reply->setProperty("swarmTarget", target);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSwarmConnectReplyFinished(reply); });
}

void IpfsClient::swarmDisconnect(const QString& multiaddr)
{
    const QString target = multiaddr.trimmed();
    if (target.isEmpty()) {
        emit swarmRequestFailed(u"disconnect"_s, u"Peer multiaddr is required."_s);
        return;
    }
    QNetworkReply* reply = postRequest(u"/swarm/disconnect"_s, argQuery({ target }));
    reply->setProperty("swarmTarget", target);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSwarmDisconnectReplyFinished(reply); });
}

void IpfsClient::fetchBootstrapPeers(bool expandAuto)
{
    QUrlQuery query;
    if (expandAuto)
        query.addQueryItem(u"expand-auto"_s, u"true"_s);
    QNetworkReply* reply = postRequest(u"/bootstrap/list"_s, query);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onBootstrapListReplyFinished(reply); });
}

void IpfsClient::bootstrapAddPeer(const QString& address)
{
    const QString target = address.trimmed();
    if (target.isEmpty()) {
        emit bootstrapRequestFailed(u"bootstrap-add"_s, u"Bootstrap peer address is required."_s);
        return;
    }
    QNetworkReply* reply = postRequest(u"/bootstrap/add"_s, argQuery({ target }));
    reply->setProperty("bootstrapTarget", target);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onBootstrapAddReplyFinished(reply); });
}

void IpfsClient::bootstrapRemovePeers(const QStringList& addresses)
{
    QStringList targets;
    targets.reserve(addresses.size());
    for (const QString& address : addresses) {
        const QString target = address.trimmed();
        if (!target.isEmpty())
            targets.append(target);
    }
    if (targets.isEmpty()) {
        emit bootstrapRequestFailed(u"bootstrap-rm"_s, u"At least one bootstrap peer is required."_s);
        return;
    }
    QNetworkReply* reply = postRequest(u"/bootstrap/rm"_s, argQuery(targets));
    reply->setProperty("bootstrapTargets", targets);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onBootstrapRmReplyFinished(reply); });
}

void IpfsClient::bootstrapRemoveAllPeers()
{
    QNetworkReply* reply = postRequest(u"/bootstrap/rm/all"_s, {});
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onBootstrapRmAllReplyFinished(reply); });
}

void IpfsClient::onSwarmPeersReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"fetch swarm peers"_s);
    if (!result.ok) {
        emit swarmRequestFailed(u"peers"_s, result.error);
        return;
    }
    emit swarmPeersReceived(parseSwarmPeers(result.json));
}

void IpfsClient::onSwarmAddrsReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"fetch swarm addresses"_s);
    if (!result.ok) {
        emit swarmRequestFailed(u"addrs"_s, result.error);
        return;
    }
    emit swarmAddrsReceived(parseSwarmAddrs(result.json));
}

void IpfsClient::onSwarmListenAddrsReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"fetch listen addresses"_s);
    if (!result.ok) {
        emit swarmRequestFailed(u"listen"_s, result.error);
        return;
    }
    emit swarmListenAddrsReceived(trimmedNonEmptyStrings(result.json.value("Strings"_L1)));
}

void IpfsClient::onSwarmConnectReplyFinished(QNetworkReply* reply)
{
    const QString target = reply->property("swarmTarget").toString();
    const KuboReplyResult result = parseKuboReply(reply, u"connect to %1"_s.arg(target));
    if (!result.ok) {
        emit swarmRequestFailed(u"connect"_s, result.error);
        emit swarmConnectResult(target, false, {});
        return;
    }
    emit swarmConnectResult(target, true, trimmedNonEmptyStrings(result.json.value("Strings"_L1)));
}

void IpfsClient::onSwarmDisconnectReplyFinished(QNetworkReply* reply)
{
    const QString target = reply->property("swarmTarget").toString();
    const KuboReplyResult result = parseKuboReply(reply, u"disconnect from %1"_s.arg(target));
    if (!result.ok) {
        emit swarmRequestFailed(u"disconnect"_s, result.error);
        emit swarmDisconnectResult(target, false, {});
        return;
    }
    emit swarmDisconnectResult(target, true, trimmedNonEmptyStrings(result.json.value("Strings"_L1)));
}

void IpfsClient::onBootstrapListReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"fetch bootstrap peers"_s);
    if (!result.ok) {
        emit bootstrapRequestFailed(u"bootstrap-list"_s, result.error);
        return;
    }
    emit bootstrapPeersReceived(parseBootstrapPeers(result.json));
}

void IpfsClient::onBootstrapAddReplyFinished(QNetworkReply* reply)
{
    const QString target = reply->property("bootstrapTarget").toString();
    const KuboReplyResult result = parseKuboReply(reply, u"add bootstrap peer %1"_s.arg(target));
    if (!result.ok) {
        emit bootstrapRequestFailed(u"bootstrap-add"_s, result.error);
        emit bootstrapAddResult(target, false, {});
        return;
    }
    emit bootstrapAddResult(target, true, parseBootstrapPeers(result.json));
}

void IpfsClient::onBootstrapRmReplyFinished(QNetworkReply* reply)
{
    const QStringList targets = reply->property("bootstrapTargets").toStringList();
    const KuboReplyResult result = parseKuboReply(reply, u"remove bootstrap peers"_s);
    if (!result.ok) {
        emit bootstrapRequestFailed(u"bootstrap-rm"_s, result.error);
        emit bootstrapRemoveResult(targets, false, {});
        return;
    }
    emit bootstrapRemoveResult(targets, true, parseBootstrapPeers(result.json));
}

void IpfsClient::onBootstrapRmAllReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"remove all bootstrap peers"_s);
    if (!result.ok) {
        emit bootstrapRequestFailed(u"bootstrap-rm-all"_s, result.error);
        emit bootstrapRemoveResult({}, false, {});
        return;
    }
    emit bootstrapRemoveResult({}, true, parseBootstrapPeers(result.json));
}
