#include "pinlistparser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cstring>

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

enum class LineVerdict { Accepted, Rejected, Unsure };

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The node's everyday line, one flat object of plain ASCII strings, read without building a JSON
// document (several times faster on a million lines). Whatever else a line holds (escapes, other
// characters or value types, repeated or wrapped members) is Unsure and left to the JSON reader, so
// both give the same answer.
LineVerdict readFlatPinLine(const char* cursor, const char* end, PinEntry* entry)
{
    const auto skipSpace = [&] {
        while (cursor < end && isJsonSpace(*cursor))
            ++cursor;
    };
    const auto take = [&](char expected) {
        if (cursor == end || *cursor != expected)
            return false;
        ++cursor;
        return true;
    };
    const auto readString = [&](QByteArrayView* text) {
        if (!take('"'))
            return false;
        const char* start = cursor;
        for (; cursor < end && *cursor != '"'; ++cursor) {
            const auto c = static_cast<unsigned char>(*cursor);
            if (c < 0x20 || c > 0x7e || c == '\\')
                return false;
        }
        if (cursor == end)
            return false;
        *text = QByteArrayView(start, cursor - start);
        ++cursor;
        return true;
    };

    enum { Cid, Type, Name, FieldCount };
    QByteArrayView fields[FieldCount];
    bool seen[FieldCount] = {};
    skipSpace();
    if (!take('{'))
        return LineVerdict::Unsure;
    do {
        QByteArrayView key;
        QByteArrayView value;
        skipSpace();
        if (!readString(&key))
            return LineVerdict::Unsure;
        skipSpace();
        if (!take(':'))
            return LineVerdict::Unsure;
        skipSpace();
        if (!readString(&value))
            return LineVerdict::Unsure;
        int field = -1;
        if (key == "Cid")
            field = Cid;
        else if (key == "Type")
            field = Type;
        else if (key == "Name")
            field = Name;
        else if (key == "PinLsObject")
            return LineVerdict::Unsure;
        if (field >= 0) {
            if (seen[field])
                return LineVerdict::Unsure;
            seen[field] = true;
            fields[field] = value;
        }
        skipSpace();
    } while (take(','));
    if (!take('}'))
        return LineVerdict::Unsure;
    skipSpace();
    if (cursor != end)
        return LineVerdict::Unsure;

    if (!seen[Cid])
        return LineVerdict::Rejected;
    entry->cid = QString::fromLatin1(fields[Cid]);
    entry->type = QString::fromLatin1(fields[Type]);
    entry->name = QString::fromLatin1(fields[Name]);
    return entry->cid.isEmpty() ? LineVerdict::Rejected : LineVerdict::Accepted;
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
    switch (readFlatPinLine(line.constData(), line.constData() + line.size(), entry)) {
    case LineVerdict::Accepted:
        return true;
    case LineVerdict::Rejected:
        return false;
    case LineVerdict::Unsure:
        break;
    }
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
    payload.pins.reserve(std::count(data, data + size, '\n') + 1);
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
    const char* const begin = chunk.data();
    const char* const end = begin + chunk.size();
    const char* cursor = begin;
    while (cursor < end) {
        const auto* newline = static_cast<const char*>(std::memchr(cursor, '\n', size_t(end - cursor)));
        // Stops at the first non-blank byte, so each line is looked at only up to its first character.
        if (tailBlank)
            tailBlank = std::all_of(cursor, newline ? newline : end, isSpace);
        if (!newline)
            break;
        if (!tailBlank)
            ++lines;
        tailBlank = true;
        cursor = newline + 1;
        tail = fed + (cursor - begin);
    }
    fed += chunk.size();
    return lines;
}
