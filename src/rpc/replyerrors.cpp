#include "replyerrors.h"

#include <QNetworkReply>
#include <QNetworkRequest>

QString replyErrorString(const QNetworkReply* reply)
{
    // The client aborts only what it cancels itself and marks so; any other abort is the timeout.
    const int timeoutMs = reply->request().transferTimeout();
    if (reply->error() == QNetworkReply::OperationCanceledError && timeoutMs > 0
        && !reply->property("cancelledByClient").toBool())
        return QStringLiteral("The node sent nothing for %1 s").arg(QString::number(timeoutMs / 1000.0));
    return reply->errorString();
}

QByteArray nodeErrorBody(const QNetworkReply* reply, const QByteArray& body)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 400 ? body : QByteArray();
}

QString failureDetail(const QNetworkReply* reply, const QByteArray& body)
{
    const QString text = QString::fromUtf8(nodeErrorBody(reply, body)).trimmed();
    return text.isEmpty() ? replyErrorString(reply) : text;
}
