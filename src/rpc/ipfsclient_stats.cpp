#include "dhtparser.h"
#include "ipfsclient.h"
#include "replyerrors.h"

#include <QNetworkReply>

using namespace Qt::StringLiterals;

void IpfsClient::fetchDhtStats(const QString& arg)
{
    QUrlQuery query;
    if (!arg.isEmpty())
        query.addQueryItem(u"arg"_s, arg);
    QNetworkReply* reply = postRequest(u"/stats/dht"_s, query);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onDhtStatsReplyFinished(reply); });
}

void IpfsClient::fetchBitswapStat(bool verbose, bool human)
{
    QUrlQuery query;
    query.addQueryItem(u"verbose"_s, verbose ? u"true"_s : u"false"_s);
    query.addQueryItem(u"human"_s, human ? u"true"_s : u"false"_s);
    QNetworkReply* reply = postRequest(u"/bitswap/stat"_s, query);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onBitswapStatReplyFinished(reply); });
}

void IpfsClient::onDhtStatsReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        const QString text = u"Failed to get DHT stats: %1"_s.arg(replyErrorString(reply));
        emit errorOccurred(text);
        emit dhtStatsFailed(text);
        return;
    }

    const DhtStatsBody parsed = parseDhtStatsBody(reply->readAll());
    if (!parsed.ok) {
        emit errorOccurred(parsed.error);
        emit dhtStatsFailed(parsed.error);
        return;
    }
    emit dhtStatsReceived(parsed.data);
}

void IpfsClient::onBitswapStatReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, u"get bitswap stats"_s);
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit bitswapStatFailed(result.error);
        return;
    }
    emit bitswapStatReceived(result.json);
}
