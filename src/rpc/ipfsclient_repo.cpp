#include "ipfsclient.h"

#include "replyerrors.h"
#include "repoparsers.h"

#include <QNetworkReply>

void IpfsClient::fetchRepoStat()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/repo/stat"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRepoStatReplyFinished(reply); });
}

void IpfsClient::runRepoGc()
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("stream-errors"), QStringLiteral("true"));
    QNetworkReply* reply = postRequest(QStringLiteral("/repo/gc"), query);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRepoGcReplyFinished(reply); });
}

void IpfsClient::onRepoStatReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, QStringLiteral("get repo stat"));
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit repoStatFailed(result.error);
        return;
    }
    emit repoStatReceived(result.json);
}

void IpfsClient::onRepoGcReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        const QString message = QStringLiteral("Failed to run repo GC: %1").arg(replyErrorString(reply));
        emit errorOccurred(message);
        emit repoGcFailed(message);
        return;
    }
    // Error lines in the stream are part of the report, not a failure of the collection.
    const RepoGcReport report = parseRepoGcBody(reply->readAll());
    emit repoGcCompleted(report.collectedCids, report.errors);
}
