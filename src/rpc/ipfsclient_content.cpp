#include "ipfsclient.h"

#include "lsparser.h"
#include "replyerrors.h"

#include <QNetworkReply>

using namespace Qt::StringLiterals;

void IpfsClient::fetchLs(const QString& cid)
{
    if (cid.isEmpty())
        return;
    QUrlQuery query;
    query.addQueryItem(u"arg"_s, cid);
    query.addQueryItem(u"cid-base"_s, u"base32"_s);
    query.addQueryItem(u"upgrade-cidv0-in-output"_s, u"true"_s);
    QNetworkReply* reply = postRequest(u"/ls"_s, query);
    reply->setProperty("cid", cid);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onLsReplyFinished(reply); });
}

void IpfsClient::fetchCat(const QString& cid)
{
    if (cid.isEmpty())
        return;
    QUrlQuery query;
    query.addQueryItem(u"arg"_s, cid);
    QNetworkReply* reply = postRequest(u"/cat"_s, query);
    reply->setProperty("cid", cid);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onCatReplyFinished(reply); });
}

void IpfsClient::onLsReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("cid").toString();
    reply->deleteLater();

    QString failure;
    QList<LsEntry> entries;
    const bool failed = reply->error() != QNetworkReply::NoError;
    if (failed)
        failure = replyErrorString(reply);
    else
        entries = parseLsResponse(reply->readAll(), &failure);
    if (failed || !failure.isEmpty()) {
        emit errorOccurred(u"List failed for %1: %2"_s.arg(cid, failure));
        // Every listing gets exactly one answer, so callers counting them never stall.
        emit lsReceived(cid, {});
        return;
    }
    emit lsReceived(cid, entries);
}

void IpfsClient::onCatReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("cid").toString();
    const QByteArray data = reply->readAll();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        emit catFailed(cid, replyErrorString(reply));
        return;
    }
    emit catReceived(cid, data);
}
