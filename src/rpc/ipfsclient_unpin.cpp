#include "ipfsclient.h"

#include "replyerrors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QUrlQuery>

void IpfsClient::unpin(const QStringList& cids, bool toCidV0)
{
    QStringList cleaned;
    cleaned.reserve(cids.size());
    for (const QString& cid : cids) {
        const QString trimmed = cid.trimmed();
        if (!trimmed.isEmpty())
            cleaned.append(trimmed);
    }
    if (cleaned.isEmpty())
        return;

    if (!toCidV0) {
        sendUnpinRequest(cleaned, cleaned);
        return;
    }

    const auto conversion = QSharedPointer<UnpinConversion>::create();
    conversion->originals = cleaned;
    conversion->formatted = QStringList(cleaned.size(), QString());
    conversion->pending = int(cleaned.size());
    for (int i = 0; i < cleaned.size(); ++i) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("arg"), cleaned.at(i));
        query.addQueryItem(QStringLiteral("v"), QStringLiteral("0"));
        query.addQueryItem(QStringLiteral("b"), QStringLiteral("base58btc"));
        QNetworkReply* reply = postRequest(QStringLiteral("/cid/format"), query);
        if (!reply) {
            completeUnpinConversion(conversion, i, QString());
            continue;
        }
        reply->setProperty("unpinIndex", i);
        unpinConversions.insert(reply, conversion);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onCidFormatReplyFinished(reply); });
    }
}

void IpfsClient::onCidFormatReplyFinished(QNetworkReply* reply)
{
    const int index = reply->property("unpinIndex").toInt();
    const QSharedPointer<UnpinConversion> conversion = unpinConversions.take(reply);
    reply->deleteLater();
    if (!conversion)
        return;

    // A conversion that fails is no error: the CID is then removed as the caller wrote it.
    QString converted;
    if (reply->error() == QNetworkReply::NoError) {
        const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
        if (document.isObject())
            converted = document.object().value(QStringLiteral("Formatted")).toString();
    }
    completeUnpinConversion(conversion, index, converted);
}

void IpfsClient::completeUnpinConversion(
    const QSharedPointer<UnpinConversion>& conversion, int index, const QString& converted)
{
    const bool inRange = index >= 0 && index < conversion->originals.size();
    const QString original = inRange ? conversion->originals.at(index) : QString();
    if (index >= 0 && index < conversion->formatted.size())
        conversion->formatted[index] = converted.isEmpty() ? original : converted;

    if (--conversion->pending > 0)
        return;

    QStringList args;
    args.reserve(conversion->formatted.size());
    for (int i = 0; i < conversion->formatted.size(); ++i) {
        const QString& formatted = conversion->formatted.at(i);
        args.append(formatted.isEmpty() ? conversion->originals.value(i) : formatted);
    }
    const QStringList originals = conversion->originals;
    conversion->originals.clear();
    conversion->formatted.clear();
    sendUnpinRequest(args, originals);
}

void IpfsClient::sendUnpinRequest(const QStringList& args, const QStringList& cids)
{
    QUrlQuery query;
    for (const QString& arg : args)
        query.addQueryItem(QStringLiteral("arg"), arg);
    QNetworkReply* reply = postRequest(QStringLiteral("/pin/rm"), query);
    if (!reply)
        return;
    reply->setProperty("cids", cids);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onUnpinReplyFinished(reply); });
}

void IpfsClient::onUnpinReplyFinished(QNetworkReply* reply)
{
    const QStringList cids = reply->property("cids").toStringList();
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        emit errorOccurred(QStringLiteral("Unpin failed: %1").arg(replyErrorString(reply)));
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        emit errorOccurred(QStringLiteral("Unpin: invalid response from node"));
        return;
    }

    QStringList removed;
    const QJsonArray pins = document.object().value(QStringLiteral("Pins")).toArray();
    for (const QJsonValue& pin : pins) {
        if (pin.isString())
            removed.append(pin.toString());
    }
    emit unpinned(removed.isEmpty() ? cids : removed);
}
