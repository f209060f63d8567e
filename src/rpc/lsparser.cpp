#include "lsparser.h"

#include "jsonnumber.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace {

LsEntry lsEntryFromLink(const QJsonObject& link, const QString& parent)
{
    LsEntry entry;
    entry.name = link.value("Name"_L1).toString();
    entry.parent = parent;
    entry.hash = link.value("Hash"_L1).toString();
    entry.size = jsonToInt64(link.value("Size"_L1));
    entry.type = link.value("Type"_L1).toInt(0);
    return entry;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

QList<LsEntry> parseLsResponse(const QByteArray& body, QString* error)
{
    setError(error, QString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        setError(error, u"Invalid JSON from ls"_s);
        return {};
    }
    const QJsonObject root = document.object();

    QList<LsEntry> entries;
    if (root.contains("Objects"_L1)) {
        const QJsonArray objects = root.value("Objects"_L1).toArray();
        for (const QJsonValue& objectValue : objects) {
            if (!objectValue.isObject())
                continue;
            const QJsonObject object = objectValue.toObject();
            const QString parent = object.value("Name"_L1).toString();
            const QJsonArray links = object.value("Links"_L1).toArray();
            for (const QJsonValue& link : links) {
                if (link.isObject())
                    entries.append(lsEntryFromLink(link.toObject(), parent));
            }
        }
    } else if (root.contains("Entries"_L1)) {
        const QJsonArray links = root.value("Entries"_L1).toArray();
        for (const QJsonValue& link : links) {
            if (link.isObject())
                entries.append(lsEntryFromLink(link.toObject(), QString()));
        }
    } else {
        setError(error, u"Unexpected ls response format"_s);
    }
    return entries;
}
