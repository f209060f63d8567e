#include "ipfsclient.h"
#include "logmasking.h"
#include "replyerrors.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QNetworkRequest>

namespace {

constexpr QLatin1String kConfigKeyRequired("Config key is required.");

// QUrlQuery takes a valid percent sequence in an item as already encoded, so a value typed as
// "%41" would reach the node as "A"; escaping every '%' sends the text as it stands.
QString literalQueryText(QString text)
{
    return text.replace(QLatin1Char('%'), QLatin1String("%25"));
}

// Reads a reply that must carry a JSON object; returns the failure text, empty on success.
QString readObjectReply(
    QNetworkReply* reply, const QString& failedText, const QString& invalidText, QJsonObject* object)
{
    const QByteArray body = reply->readAll();
    // The network layer's error string quotes the URL, and with it a secret value being set.
    if (reply->error() != QNetworkReply::NoError)
        return failedText.arg(maskSecretsInText(replyErrorString(reply), reply->request().url()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return invalidText.arg(error.errorString());
    *object = document.object();
    return {};
}

} // namespace

void IpfsClient::fetchConfig()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/config/show"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onConfigReplyFinished(reply); });
}

void IpfsClient::fetchConfigKey(const QString& key, bool expandAuto)
{
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty()) {
        emit configKeyRequestFailed(kConfigKeyRequired);
        return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("arg"), literalQueryText(trimmedKey));
    if (expandAuto)
        query.addQueryItem(QStringLiteral("expand-auto"), QStringLiteral("true"));
    QNetworkReply* reply = postRequest(QStringLiteral("/config"), query);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onConfigKeyGetReplyFinished(reply); });
}

void IpfsClient::setConfigKey(const QString& key, const QString& value, bool boolFlag, bool jsonFlag)
{
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty()) {
        emit configKeySetFailed(kConfigKeyRequired);
        return;
    }
    if (boolFlag && jsonFlag) {
        emit configKeySetFailed(
            QStringLiteral("Invalid config write mode: bool and json flags are mutually exclusive."));
        return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("arg"), literalQueryText(trimmedKey));
    query.addQueryItem(QStringLiteral("arg"), literalQueryText(value));
    if (boolFlag)
        query.addQueryItem(QStringLiteral("bool"), QStringLiteral("true"));
    if (jsonFlag)
        query.addQueryItem(QStringLiteral("json"), QStringLiteral("true"));
    QNetworkReply* reply = postRequest(QStringLiteral("/config"), query);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onConfigKeySetReplyFinished(reply); });
}

void IpfsClient::replaceConfig(const QByteArray& bytes)
{
    if (bytes.trimmed().isEmpty()) {
        emit configReplaceFailed(QStringLiteral("Config JSON payload is empty."));
        return;
    }

    // The frame sets the URL, User-Agent and Origin and logs the call; the multipart body then
    // brings its own content type with the boundary.
    QNetworkRequest request = buildRequest(QStringLiteral("/config/replace"), QUrlQuery());

    // One form part, the config file, under a boundary that the text does not hold.
    QByteArray boundary;
    do {
        boundary = "vaxel-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    } while (bytes.contains(boundary));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
        QByteArray("multipart/form-data; boundary=" + boundary));
    QByteArray body = "--" + boundary + "\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"config.json\"\r\n"
        "Content-Type: application/json\r\n\r\n";
    body += bytes;
    body += "\r\n--" + boundary + "--\r\n";

    QNetworkReply* reply = send(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onConfigReplaceReplyFinished(reply); });
}

void IpfsClient::onConfigReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    QJsonObject object;
    const QString failure = readObjectReply(reply, QStringLiteral("Failed to get config: %1"),
        QStringLiteral("Invalid config JSON: %1"), &object);
    if (!failure.isEmpty()) {
        emit errorOccurred(failure);
        emit configFailed(failure);
        return;
    }
    emit configReceived(object);
}

void IpfsClient::onConfigKeyGetReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    QJsonObject object;
    const QString failure = readObjectReply(reply, QStringLiteral("Failed to get config key: %1"),
        QStringLiteral("Invalid config/get JSON: %1"), &object);
    if (!failure.isEmpty()) {
        emit errorOccurred(failure);
        emit configKeyRequestFailed(failure);
        return;
    }
    emit configKeyReceived(
        object.value(QLatin1String("Key")).toString(), object.value(QLatin1String("Value")));
}

void IpfsClient::onConfigKeySetReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    QJsonObject object;
    const QString failure = readObjectReply(reply, QStringLiteral("Failed to set config key: %1"),
        QStringLiteral("Invalid config/set JSON: %1"), &object);
    if (!failure.isEmpty()) {
        emit errorOccurred(failure);
        emit configKeySetFailed(failure);
        return;
    }
    emit configKeySet(object.value(QLatin1String("Key")).toString(), object.value(QLatin1String("Value")));
}

void IpfsClient::onConfigReplaceReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        const QString failure
            = QStringLiteral("Failed to replace config: %1").arg(failureDetail(reply, body));
        emit errorOccurred(failure);
        emit configReplaceFailed(failure);
        return;
    }
    emit configReplaceSucceeded();
}
