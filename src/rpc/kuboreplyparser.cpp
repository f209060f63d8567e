#include "kuboreplyparser.h"

#include <QJsonDocument>
#include <QJsonValue>

KuboReplyResult parseKuboReplyBody(
    const QByteArray& body, bool failed, const QString& errorString, const QString& action)
{
    KuboReplyResult result;
    result.body = body;

    if (failed) {
        // The node's error body is quoted whole: it is the most precise text there is.
        QString detail = QString::fromUtf8(body).trimmed();
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
