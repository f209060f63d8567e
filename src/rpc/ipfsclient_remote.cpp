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
    QUrlQuery query;
    addArgument(query, QStringLiteral("arg"), trimmedCid);
    addArgument(query, QStringLiteral("service"), trimmedService);
    const QString trimmedName = name.trimmed();
    if (!trimmedName.isEmpty())
        addArgument(query, QStringLiteral("name"), trimmedName);
    if (background)
        query.addQueryItem(QStringLiteral("background"), QStringLiteral("true"));

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/add"), query);
    reply->setProperty("remoteCid", trimmedCid);
    reply->setProperty("remoteService", trimmedService);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRemotePinAddReplyFinished(reply); });
}

void IpfsClient::fetchRemotePinStatus(const QString& cid, const QString& service)
{
    const QString trimmedCid = cid.trimmed();
    const QString trimmedService = service.trimmed();
    if (trimmedCid.isEmpty() || trimmedService.isEmpty()) {
        emit remotePinStatusFailed(trimmedCid, trimmedService,
            QStringLiteral("Remote pin status request failed: CID and service are required."));
        return;
    }
    // The listing has no positional argument; its CID filter is the "cid" option.
    QUrlQuery query;
    addArgument(query, QStringLiteral("cid"), trimmedCid);
    addArgument(query, QStringLiteral("service"), trimmedService);

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/remote/ls"), query);
    reply->setProperty("remoteCid", trimmedCid);
    reply->setProperty("remoteService", trimmedService);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRemotePinLsReplyFinished(reply); });
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

    // Only an explicit error counts: the node's success answer is not otherwise examined.
    QString detail;
    if (reply->error() != QNetworkReply::NoError)
        detail = failureDetail(reply, body);
    else
        detail = remoteReplyErrorText(body);
    if (!detail.isEmpty()) {
        emit remotePinQueueFailed(
            cid, service, QStringLiteral("Remote pin failed for %1: %2").arg(cid, detail));
        return;
    }
    emit remotePinQueued(cid, service);
}

void IpfsClient::onRemotePinLsReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("remoteCid").toString();
    const QString service = reply->property("remoteService").toString();
    const QByteArray body = reply->readAll();
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        emit remotePinStatusFailed(cid, service,
            QStringLiteral("Remote pin status failed for %1: %2").arg(cid, replyErrorString(reply)));
        return;
    }
    const RemotePinStatusReading reading = readRemotePinStatusBody(body, cid);
    if (!reading.ok) {
        emit remotePinStatusFailed(
            cid, service, QStringLiteral("Remote pin status failed for %1: %2").arg(cid, reading.error));
        return;
    }
    emit remotePinStatusReceived(cid, service, reading.status);
}
