#include "ipfsclient.h"
#include "logmasking.h"
#include "remoteparsers.h"
#include "replyerrors.h"

#include <QNetworkReply>
#include <QUrl>

#include <algorithm>

namespace {

// Percent-encodes the whole value so that a '+' or a "%xx" typed by the user reaches the node
// unchanged: left as they are, the node reads '+' as a blank and "%xx" as an escape.
void addArgument(QUrlQuery& query, const QString& name, const QString& value)
{
    query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
}

} // namespace

namespace {

// A service is asked for a few pins at a time, not hundreds at once: every request holds a
// connection to the node, and the node one to the service, for as long as the service takes.
constexpr int kRemotePinAddsInFlight = 3;
// The pinning service API takes at most ten CIDs in one listing.
constexpr int kRemoteStatusCidsPerRequest = 10;

// Every status a pin can have: without them the node lists pinned pins only, and a pin that
// failed would read as not found.
const QStringList& everyRemotePinStatus()
{
    static const QStringList statuses = { QStringLiteral("queued"), QStringLiteral("pinning"),
        QStringLiteral("pinned"), QStringLiteral("failed") };
    return statuses;
}

} // namespace

void IpfsClient::remotePinAdd(
    const QString& cid, const QString& service, const QString& name, bool background)
{
    const QString trimmedCid = cid.trimmed();
    const QString trimmedService = service.trimmed();
    if (trimmedCid.isEmpty() || trimmedService.isEmpty()) {
        emit remotePinQueueFailed(
            trimmedCid, trimmedService, QStringLiteral("Remote pin failed: CID and service are required."));
        return;
    }
    remotePinTraffic[trimmedService].waitingAdds.append({ trimmedCid, name.trimmed(), background });
    pumpRemotePinAdds(trimmedService);
}

void IpfsClient::pumpRemotePinAdds(const QString& service)
{
    RemotePinTraffic& traffic = remotePinTraffic[service];
    while (traffic.addsInFlight < kRemotePinAddsInFlight && !traffic.waitingAdds.isEmpty()) {
        const RemotePinAddRequest next = traffic.waitingAdds.takeFirst();
        QUrlQuery query;
        addArgument(query, QStringLiteral("arg"), next.cid);
        addArgument(query, QStringLiteral("service"), service);
        if (!next.name.isEmpty())
            addArgument(query, QStringLiteral("name"), next.name);
        if (next.background)
            query.addQueryItem(QStringLiteral("background"), QStringLiteral("true"));

        ++traffic.addsInFlight;
        QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/add"), query);
        reply->setProperty("remoteCid", next.cid);
        reply->setProperty("remoteService", service);
        connect(
            reply, &QNetworkReply::finished, this, [this, reply]() { onRemotePinAddReplyFinished(reply); });
    }
}

void IpfsClient::fetchRemotePinStatus(const QStringList& cids, const QString& service)
{
    const QString trimmedService = service.trimmed();
    QStringList asked;
    for (const QString& cid : cids) {
        const QString trimmedCid = cid.trimmed();
        if (trimmedCid.isEmpty() || trimmedService.isEmpty())
            emit remotePinStatusFailed(trimmedCid, trimmedService,
                QStringLiteral("Remote pin status request failed: CID and service are required."));
        else
            asked.append(trimmedCid);
    }
    if (asked.isEmpty())
        return;
    RemotePinTraffic& traffic = remotePinTraffic[trimmedService];
    for (const QString& cid : std::as_const(asked)) {
        // A CID already waiting is answered once for both questions.
        if (!traffic.waitingStatusSet.contains(cid)) {
            traffic.waitingStatusSet.insert(cid);
            traffic.waitingStatus.append(cid);
        }
    }
    pumpRemotePinStatus(trimmedService);
}

void IpfsClient::pumpRemotePinStatus(const QString& service)
{
    RemotePinTraffic& traffic = remotePinTraffic[service];
    if (traffic.statusInFlight || traffic.waitingStatus.isEmpty())
        return;
    const QStringList batch = traffic.waitingStatus.mid(0, kRemoteStatusCidsPerRequest);
    traffic.waitingStatus.remove(0, batch.size());
    for (const QString& cid : batch)
        traffic.waitingStatusSet.remove(cid);

    // The listing has no positional argument; its CID filter is the "cid" option, repeated.
    QUrlQuery query;
    for (const QString& cid : batch)
        addArgument(query, QStringLiteral("cid"), cid);
    addArgument(query, QStringLiteral("service"), service);
    for (const QString& status : everyRemotePinStatus())
        query.addQueryItem(QStringLiteral("status"), status);

    traffic.statusInFlight = true;
    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/ls"), query);
    reply->setProperty("remoteCids", batch);
    reply->setProperty("remoteService", service);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRemotePinLsReplyFinished(reply); });
}

void IpfsClient::finishRemotePinTraffic(const QString& service)
{
    const auto it = remotePinTraffic.constFind(service);
    if (it != remotePinTraffic.cend() && it->addsInFlight == 0 && !it->statusInFlight
        && it->waitingAdds.isEmpty() && it->waitingStatus.isEmpty())
        remotePinTraffic.remove(service);
}

void IpfsClient::fetchRemoteServices(bool stat, const QString& name)
{
    const QString trimmedName = name.trimmed();
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("stat"), stat ? QStringLiteral("true") : QStringLiteral("false"));
    if (!trimmedName.isEmpty())
        addArgument(query, QStringLiteral("name"), trimmedName);

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/service/ls"), query);
    reply->setProperty("remoteServiceAction", QStringLiteral("list"));
    reply->setProperty("remoteServiceName", trimmedName);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRemoteServicesReplyFinished(reply); });
}

void IpfsClient::testRemoteService(const QString& name)
{
    const QString trimmedName = name.trimmed();
    if (trimmedName.isEmpty()) {
        emit remoteServiceTested(QString(), false, QStringLiteral("Service name is required."));
        return;
    }
    fetchRemoteServices(true, trimmedName);
}

void IpfsClient::addRemoteService(const QString& name, const QString& endpoint, const QString& key)
{
    const QString trimmedName = name.trimmed();
    const QString trimmedEndpoint = endpoint.trimmed();
    const QString trimmedKey = key.trimmed();
    if (trimmedName.isEmpty() || trimmedEndpoint.isEmpty() || trimmedKey.isEmpty()) {
        emit remoteServiceAddFailed(QStringLiteral("Service name, endpoint, and access token are required."));
        return;
    }
    // The node takes the token only as the third argument; the log line masks it.
    QUrlQuery query;
    addArgument(query, QStringLiteral("arg"), trimmedName);
    addArgument(query, QStringLiteral("arg"), trimmedEndpoint);
    addArgument(query, QStringLiteral("arg"), trimmedKey);

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/service/add"), query);
    reply->setProperty("remoteServiceName", trimmedName);
    connect(
        reply, &QNetworkReply::finished, this, [this, reply]() { onRemoteServiceAddReplyFinished(reply); });
}

void IpfsClient::removeRemoteService(const QString& name)
{
    const QString trimmedName = name.trimmed();
    if (trimmedName.isEmpty()) {
        emit remoteServiceRemoveFailed(QStringLiteral("Service name is required."));
        return;
    }
    QUrlQuery query;
    addArgument(query, QStringLiteral("arg"), trimmedName);

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/service/rm"), query);
    reply->setProperty("remoteServiceName", trimmedName);
    connect(
        reply, &QNetworkReply::finished, this, [this, reply]() { onRemoteServiceRmReplyFinished(reply); });
}

void IpfsClient::onRemoteServicesReplyFinished(QNetworkReply* reply)
{
    const QString action = reply->property("remoteServiceAction").toString();
    const QString name = reply->property("remoteServiceName").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();

    // A listing filtered by name is a test and answers as one.
    const bool isTest = action == QLatin1String("list") && !name.isEmpty();
    const auto fail = [this, isTest, &name](const QString& text) {
        if (isTest)
            emit remoteServiceTested(name, false, text);
        else
            emit remoteServicesFailed(text);
    };

    if (reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("Remote service request failed: %1").arg(replyErrorString(reply)));
        return;
    }
    const RemoteServicesReading reading = readRemoteServicesBody(body);
    if (!reading.ok) {
        fail(reading.error);
        return;
    }
    if (!isTest) {
        emit remoteServicesReceived(reading.services);
        return;
    }
    const bool listed = std::any_of(reading.services.cbegin(), reading.services.cend(),
        [&name](const RemoteServiceEntry& entry) { return entry.name == name; });
    if (!listed)
        emit remoteServiceTested(
            name, false, QStringLiteral("Service '%1' was not returned by Kubo.").arg(name));
    else if (reading.unreachable.contains(name))
        emit remoteServiceTested(name, false,
            QStringLiteral("Service '%1' is configured, but Kubo could not reach it.").arg(name));
    else
        emit remoteServiceTested(
            name, true, QStringLiteral("Service '%1' is configured and reachable.").arg(name));
}

void IpfsClient::onRemoteServiceAddReplyFinished(QNetworkReply* reply)
{
    const QString name = reply->property("remoteServiceName").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();

    QString detail;
    if (reply->error() != QNetworkReply::NoError)
        detail = failureDetail(reply, body);
    else
        detail = remoteReplyErrorText(body);
    if (!detail.isEmpty()) {
        // The network layer's error string quotes the URL, access token included.
        detail = maskSecretsInText(detail, reply->request().url());
        emit remoteServiceAddFailed(
            QStringLiteral("Failed to add remote service '%1': %2").arg(name, detail));
        return;
    }
    emit remoteServiceAdded(name);
}

void IpfsClient::onRemoteServiceRmReplyFinished(QNetworkReply* reply)
{
    const QString name = reply->property("remoteServiceName").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();

    QString detail;
    if (reply->error() != QNetworkReply::NoError)
        detail = failureDetail(reply, body);
    else
        detail = remoteReplyErrorText(body);
    if (!detail.isEmpty()) {
        emit remoteServiceRemoveFailed(
            QStringLiteral("Failed to remove remote service '%1': %2").arg(name, detail));
        return;
    }
    emit remoteServiceRemoved(name);
}

void IpfsClient::onRemotePinAddReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("remoteCid").toString();
    const QString service = reply->property("remoteService").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    --remotePinTraffic[service].addsInFlight;

    // Only an explicit error counts: the node's success answer is not otherwise examined.
    QString detail;
    if (reply->error() != QNetworkReply::NoError)
        detail = failureDetail(reply, body);
    else
        detail = remoteReplyErrorText(body);
    // The next request goes out before the answer is told, so that a receiver that asks again
    // finds the queue in order.
    pumpRemotePinAdds(service);
    finishRemotePinTraffic(service);
    if (!detail.isEmpty()) {
        emit remotePinQueueFailed(
            cid, service, QStringLiteral("Remote pin failed for %1: %2").arg(cid, detail));
        return;
    }
    emit remotePinQueued(cid, service);
}

void IpfsClient::onRemotePinLsReplyFinished(QNetworkReply* reply)
{
    const QStringList cids = reply->property("remoteCids").toStringList();
    const QString service = reply->property("remoteService").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    remotePinTraffic[service].statusInFlight = false;

    QString failure;
    RemotePinStatusesReading reading;
    if (reply->error() != QNetworkReply::NoError) {
        failure = failureDetail(reply, body);
    } else {
        reading = readRemotePinStatusesBody(body);
        if (!reading.ok)
            failure = reading.error;
    }
    pumpRemotePinStatus(service);
    finishRemotePinTraffic(service);
    for (const QString& cid : cids) {
        if (!failure.isEmpty())
            emit remotePinStatusFailed(
                cid, service, QStringLiteral("Remote pin status failed for %1: %2").arg(cid, failure));
        else
            emit remotePinStatusReceived(
                cid, service, reading.statusByCid.value(cid, QStringLiteral("not-found")));
    }
}
