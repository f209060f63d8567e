#include "pinlistparser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isBlank(const char* begin, const char* end)
{
    return std::all_of(begin, end, isSpace);
}

bool pinEntryFromObject(const QJsonObject& object, PinEntry* entry)
{
    QJsonObject source;
    if (object.contains(QLatin1String("PinLsObject")))
        source = object.value(QLatin1String("PinLsObject")).toObject();
    else if (object.contains(QLatin1String("Cid")))
        source = object;
    else
        return false;
    entry->cid = source.value(QLatin1String("Cid")).toString();
    entry->type = source.value(QLatin1String("Type")).toString();
    entry->name = source.value(QLatin1String("Name")).toString();
    return !entry->cid.isEmpty();
}

QJsonObject keysObject(const QJsonDocument& document)
{
    if (!document.isObject())
        return {};
    const QJsonObject root = document.object();
    if (root.contains(QLatin1String("PinLsList")))
        return root.value(QLatin1String("PinLsList")).toObject().value(QLatin1String("Keys")).toObject();
    return root.value(QLatin1String("Keys")).toObject();
}

} // namespace

bool parsePinLsLine(const QByteArray& line, PinEntry* entry)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return false;
    return pinEntryFromObject(document.object(), entry);
}

ParsedPinsPayload parsePinListBody(const QByteArray& body)
{
    ParsedPinsPayload payload;

    const QJsonObject keys = keysObject(QJsonDocument::fromJson(body));
    payload.total = int(keys.size());
    payload.pins.reserve(keys.size());
    for (auto it = keys.constBegin(); it != keys.constEnd(); ++it) {
        const QJsonObject value = it.value().toObject();
        PinEntry entry;
        entry.cid = it.key();
        entry.type = value.value(QLatin1String("Type")).toString();
        entry.name = value.value(QLatin1String("Name")).toString();
        payload.pins.append(entry);
    }
    if (!payload.pins.isEmpty())
        return payload;

    // Line form: walk the body by index; each line is viewed in place, not copied.
    const char* data = body.constData();
    const qsizetype size = body.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = size;
        if (!isBlank(data + start, data + end)) {
            PinEntry entry;
            if (parsePinLsLine(QByteArray::fromRawData(data + start, end - start), &entry))
                payload.pins.append(entry);
        }
        start = end + 1;
    }
    return payload;
}

int PinLineCounter::feed(QByteArrayView chunk)
{
    int lines = 0;
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        if (c == '\n') {
            if (!tailBlank)
                ++lines;
            tailBlank = true;
            tail = fed + i + 1;
        } else if (tailBlank && !isSpace(c)) {
            tailBlank = false;
        }
    }
    fed += chunk.size();
    return lines;
}
