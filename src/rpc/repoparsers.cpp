#include "repoparsers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// One object may carry both an error and a removed key.
void collectGcObject(const QJsonObject& object, RepoGcReport& report)
{
    const QString error = object.value(QLatin1String("Error")).toString().trimmed();
    if (!error.isEmpty())
        report.errors.append(error);
    const QString cid
        = object.value(QLatin1String("Key")).toObject().value(QLatin1String("/")).toString().trimmed();
    if (!cid.isEmpty())
        report.collectedCids.append(cid);
}

bool parseObject(const QByteArray& bytes, QJsonObject& object)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    object = document.object();
    return true;
}

} // namespace

RepoGcReport parseRepoGcBody(const QByteArray& body)
{
    RepoGcReport report;
    QJsonObject object;
    for (const QByteArray& rawLine : body.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.isEmpty() && parseObject(line, object))
            collectGcObject(object, report);
    }
    // A node that answers without streaming sends one (possibly pretty-printed) object.
    if (report.collectedCids.isEmpty() && report.errors.isEmpty() && parseObject(body, object))
        collectGcObject(object, report);
    return report;
}
