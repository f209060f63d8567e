#include "ipfsclient.h"
#include "ipnsparsers.h"

#include <QNetworkReply>

namespace {

// Names and keys are typed by the user: a '%' in them must reach the node as itself, not as
// the start of an escape ("%41" would arrive as "A").
QString literalQueryText(QString text)
{
    return text.replace(QLatin1Char('%'), QLatin1String("%25"));
}

} // namespace

void IpfsClient::fetchIpnsKeys()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/key/list"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onIpnsKeysReplyFinished(reply); });
}

void IpfsClient::publishIpns(const QString& path, const QString& key)
{
    const QString ipfsPath = ipnsPublishPath(path);
    if (ipfsPath.isEmpty()) {
        emit ipnsPublishFailed(QStringLiteral("IPNS publish failed: content path/CID is required."));
        return;
    }
    const QString keyName = ipnsPublishKey(key);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("arg"), literalQueryText(ipfsPath));
    query.addQueryItem(QStringLiteral("key"), literalQueryText(keyName));
    QNetworkReply* reply = postRequest(QStringLiteral("/name/publish"), query);
    reply->setProperty("ipnsPublishKey", keyName);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onIpnsPublishReplyFinished(reply); });
}

void IpfsClient::resolveIpns(const QString& name)
{
    const QString ipnsName = ipnsResolveName(name);
    if (ipnsName.isEmpty()) {
        emit ipnsResolveFailed(QStringLiteral("IPNS resolve failed: name is required."));
        return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("arg"), literalQueryText(ipnsName));
    QNetworkReply* reply = postRequest(QStringLiteral("/name/resolve"), query);
    reply->setProperty("ipnsResolveArg", ipnsName);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onIpnsResolveReplyFinished(reply); });
}

void IpfsClient::onIpnsKeysReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, QStringLiteral("list IPNS keys"));
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit ipnsKeysFailed(result.error);
        return;
    }
    emit ipnsKeysReceived(parseIpnsKeys(result.json));
}

void IpfsClient::onIpnsPublishReplyFinished(QNetworkReply* reply)
{
    const QString key = reply->property("ipnsPublishKey").toString();
    const KuboReplyResult result = parseKuboReply(reply, QStringLiteral("publish to IPNS"));
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit ipnsPublishFailed(result.error);
        return;
    }
    emit ipnsPublished(parseIpnsPublishResult(result.json, key));
}

void IpfsClient::onIpnsResolveReplyFinished(QNetworkReply* reply)
{
    const QString name = reply->property("ipnsResolveArg").toString();
    const KuboReplyResult result = parseKuboReply(reply, QStringLiteral("resolve IPNS name"));
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit ipnsResolveFailed(result.error);
        return;
    }
    emit ipnsResolved(parseIpnsResolveResult(result.json, name));
}
