#include "replyerrors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
// A plain-text error is a line or two; anything longer is a page, not a message.
constexpr int kMaxPlainMessageLength = 300;
} // namespace

QString replyErrorString(const QNetworkReply* reply)
{
    // The client aborts only what it cancels itself and marks so; any other abort is the timeout.
    const int timeoutMs = reply->request().transferTimeout();
    if (reply->error() == QNetworkReply::OperationCanceledError && timeoutMs > 0
        && !reply->property("cancelledByClient").toBool())
        return QStringLiteral("The node sent nothing for %1 s").arg(QString::number(timeoutMs / 1000.0));
    return reply->errorString();
}

QString nodeErrorMessage(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject())
        return document.object().value(QLatin1String("Message")).toString().trimmed();
    const QString text = QString::fromUtf8(body).trimmed();
    if (text.size() > kMaxPlainMessageLength || text.contains(QLatin1Char('<')))
        return {};
    return text;
}

QByteArray nodeErrorBody(const QNetworkReply* reply, const QByteArray& body)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 400 ? body : QByteArray();
}

QString failureDetail(const QNetworkReply* reply, const QByteArray& body)
{
    const QString message = nodeErrorMessage(nodeErrorBody(reply, body));
    return message.isEmpty() ? replyErrorString(reply) : message;
}

bool nodeAnswered(const QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A failure after the answer began comes as an internal error of a 200; a cut connection is
    // the network's.
    return status >= 400 || (status > 0 && reply->error() == QNetworkReply::InternalServerError);
}
