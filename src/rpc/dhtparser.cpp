#include "dhtparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

DhtStatsBody parseDhtStatsBody(const QByteArray& body)
{
    DhtStatsBody result;
    const QByteArray trimmed = body.trimmed();

    QJsonParseError wholeBodyError;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed, &wholeBodyError);
    if (wholeBodyError.error == QJsonParseError::NoError) {
        result.ok = true;
        if (document.isArray())
            result.data = document.array();
        else
            result.data = document.object();
        return result;
    }

    QJsonArray objects;
    for (const QByteArray& piece : trimmed.split('\n')) {
        const QByteArray line = piece.trimmed();
        if (line.isEmpty())
            continue;
        QJsonParseError lineError;
        const QJsonDocument lineDocument = QJsonDocument::fromJson(line, &lineError);
        if (lineError.error == QJsonParseError::NoError && lineDocument.isObject())
            objects.append(lineDocument.object());
    }

    if (objects.isEmpty()) {
        result.error = u"Invalid DHT stats JSON: %1"_s.arg(wholeBodyError.errorString());
        return result;
    }
    result.ok = true;
    if (objects.size() == 1)
        result.data = objects.first();
    else
        result.data = objects;
    return result;
}
