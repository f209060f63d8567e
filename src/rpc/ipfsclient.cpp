#include "ipfsclient.h"

#include "appsettings.h"
#include "kuboreplyparser.h"
#include "logmasking.h"
#include "nodehttpreply.h"
#include "replyerrors.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMetaType>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// Receivers may connect across threads or with Qt::QueuedConnection; the records must be known then.
void registerRecordTypes()
{
    qRegisterMetaType<PinEntry>();
    qRegisterMetaType<QList<PinEntry>>();
    qRegisterMetaType<LsEntry>();
    qRegisterMetaType<QList<LsEntry>>();
    qRegisterMetaType<AddEntry>();
    qRegisterMetaType<QList<AddEntry>>();
    qRegisterMetaType<RemoteServiceEntry>();
    qRegisterMetaType<QList<RemoteServiceEntry>>();
    qRegisterMetaType<IpnsKeyEntry>();
    qRegisterMetaType<QList<IpnsKeyEntry>>();
    qRegisterMetaType<IpnsPublishResult>();
    qRegisterMetaType<IpnsResolveResult>();
    qRegisterMetaType<QHash<QString, QStringList>>();
}

// Go's query decoder (and so the node) reads a literal '+' as a blank; send it escaped so
// that a value such as "a+b" arrives unchanged.
QString queryForNode(const QUrlQuery& query)
{
    QString encoded = query.query(QUrl::FullyEncoded);
    encoded.replace(QLatin1Char('+'), QLatin1String("%2B"));
    return encoded;
}

} // namespace

IpfsClient::IpfsClient(QObject* parent)
    : QObject(parent)
{
    registerRecordTypes();
}

void IpfsClient::setEndpoint(const QString& host, quint16 port)
{
    this->host = host;
    this->port = port;
}

QString IpfsClient::baseUrl() const
{
    return QStringLiteral("http://%1:%2/api/v0").arg(host, QString::number(port));
}

QNetworkRequest IpfsClient::buildRequest(const QString& path, const QUrlQuery& query)
{
    // A literal IPv6 host ("::1") needs brackets in a URL; without them every request would fail.
    const bool bareIpv6Host = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    const QString base
        = bareIpv6Host ? QStringLiteral("http://[%1]:%2/api/v0").arg(host, QString::number(port)) : baseUrl();
    QUrl url(base + path, QUrl::TolerantMode);
    if (!query.isEmpty())
        url.setQuery(queryForNode(query), QUrl::StrictMode);

    QNetworkRequest request(url);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // Without it Qt sends "Mozilla/5.0", which the node refuses as a browser unless an Origin is set.
    request.setHeader(QNetworkRequest::UserAgentHeader, vaxelUserAgent());
    applyConfiguredOriginHeader(request);
    // A garbage collection sends nothing while it marks what is pinned, which on a large node can
    // outlast any silence limit; ending the request would end the collection on the node too.
    const bool maySendNothingForLong = path == QLatin1String("/repo/gc");
    request.setTransferTimeout(maySendNothingForLong ? 0 : transferTimeoutMs);

    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // Secrets (a remote service's access token) travel in the query; the log shows them masked.
    emit rpcRequestIssued(QStringLiteral("[%1] POST %2").arg(now, maskSecretsForLog(url)));
    return request;
}

QNetworkReply* IpfsClient::postRequest(const QString& path, const QUrlQuery& query)
{
    return send(buildRequest(path, query), QByteArray());
}

QNetworkReply* IpfsClient::send(const QNetworkRequest& request, const QByteArray& body)
{
    return new NodeHttpReply(request, body, nullptr, this);
}

QNetworkReply* IpfsClient::send(const QNetworkRequest& request, QIODevice* body)
{
    return new NodeHttpReply(request, QByteArray(), body, this);
}

KuboReplyResult IpfsClient::parseKuboReply(QNetworkReply* reply, const QString& action)
{
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    if (reply->error() == QNetworkReply::NoError)
        return parseKuboReplyBody(body, false, QString(), action);
    return parseKuboReplyBody(nodeErrorBody(reply, body), true, replyErrorString(reply), action);
}

void IpfsClient::fetchNodeInfo()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/id"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onNodeInfoReplyFinished(reply); });
}

void IpfsClient::onNodeInfoReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        emit errorOccurred(QStringLiteral("Failed to get node info: %1").arg(replyErrorString(reply)));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    if (!document.isObject())
        return;
    const QJsonObject info = document.object();
    emit nodeInfoReceived(
        info.value(QLatin1String("ID")).toString(), info.value(QLatin1String("AgentVersion")).toString());
}

void IpfsClient::ping()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/version"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply->error() == QNetworkReply::NoError) {
            emit connectionStatusChanged(true);
            return;
        }
        emit connectionStatusChanged(false);
        emit errorOccurred(QStringLiteral("Cannot connect to Kubo RPC: %1").arg(replyErrorString(reply)));
    });
}
