#include "kuboreplyparser.h"

#include "replyerrors.h"

#include <QJsonDocument>
#include <QJsonValue>

KuboReplyResult parseKuboReplyBody(
    const QByteArray& body, bool failed, const QString& errorString, const QString& action)
{
    KuboReplyResult result;
    result.body = body;

    if (failed) {
        // The node's own message; never its whole JSON object, nor a URL.
        QString detail = nodeErrorMessage(body);
        if (detail.isEmpty())
            detail = errorString;
        result.error = QStringLiteral("Failed to %1: %2").arg(action, detail);
        return result;
    }

    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        result.error = QStringLiteral("Failed to %1: invalid JSON response").arg(action);
        return result;
    }

    result.json = document.object();
    QString detail = result.json.value(QLatin1String("Error")).toString().trimmed();
    if (detail.isEmpty())
        detail = result.json.value(QLatin1String("Message")).toString().trimmed();
    if (!detail.isEmpty()) {
        result.error = QStringLiteral("Failed to %1: %2").arg(action, detail);
        return result;
    }
    result.ok = true;
    return result;
}
