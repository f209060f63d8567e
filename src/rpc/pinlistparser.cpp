#include "pinlistparser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

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

// The usual types share one string each instead of a copy per entry: a million pins hold three strings.
QString pinTypeText(QByteArrayView type)
{
    static const QString recursive = QStringLiteral("recursive");
    static const QString direct = QStringLiteral("direct");
    static const QString indirect = QStringLiteral("indirect");
    if (type == "recursive")
        return recursive;
    if (type == "direct")
        return direct;
    if (type == "indirect")
        return indirect;
    return QString::fromLatin1(type);
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
    entry->type = pinTypeText(fields[Type]);
    entry->name = QString::fromLatin1(fields[Name]);
    return entry->cid.isEmpty() ? LineVerdict::Rejected : LineVerdict::Accepted;
}

// memchr finds line feeds many times faster than a byte-by-byte count.
qsizetype countLineFeeds(const char* begin, const char* end)
{
    qsizetype lines = 0;
    for (const char* cursor = begin; cursor < end; ++lines) {
        const auto* newline = static_cast<const char*>(std::memchr(cursor, '\n', size_t(end - cursor)));
        if (!newline)
            break;
        cursor = newline + 1;
    }
    return lines;
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
        payload.pins.append(std::move(entry));
    }
    if (!payload.pins.isEmpty())
        return payload;

    // Line form: walk the body by index; each line is viewed in place, not copied.
    const char* data = body.constData();
    const qsizetype size = body.size();
    payload.pins.reserve(countLineFeeds(data, data + size) + 1);
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = size;
        if (!isBlank(data + start, data + end)) {
            PinEntry entry;
            if (parsePinLsLine(QByteArray::fromRawData(data + start, end - start), &entry))
                payload.pins.append(std::move(entry));
        }
        start = end + 1;
    }
    return payload;
}

namespace {

// The first code units of a CID packed into 128 bits, so that most comparisons never touch the
// strings. CIDs are ASCII, and sixteen characters pass any common prefix ("bafybei", "Qm"): eight
// bits each then. Keys never contradict the text order (a missing unit counts as 0), so equal keys
// fall back to comparing the text.
struct CidKey {
    quint64 high = 0;
    quint64 low = 0;

    friend bool operator<(const CidKey& a, const CidKey& b)
    {
        return a.high != b.high ? a.high < b.high : a.low < b.low;
    }
    friend bool operator==(const CidKey& a, const CidKey& b) { return a.high == b.high && a.low == b.low; }
};

CidKey cidKey(const QString& cid, bool narrow)
{
    const ushort* text = cid.utf16();
    const qsizetype size = cid.size();
    const int units = narrow ? 16 : 8;
    const int bits = narrow ? 8 : 16;
    CidKey key;
    for (int i = 0; i < units; ++i) {
        const quint64 unit = i < size ? text[i] : 0u;
        quint64& word = i < units / 2 ? key.high : key.low;
        word = (word << bits) | unit;
    }
    return key;
}

bool fitsNarrowKey(const QString& cid)
{
    const ushort* text = cid.utf16();
    const qsizetype units = std::min<qsizetype>(16, cid.size());
    for (qsizetype i = 0; i < units; ++i) {
        if (text[i] > 0xff)
            return false;
    }
    return true;
}

// The rows are read in sorted order, all over memory: fetch a few ahead.
constexpr size_t kPrefetchDistance = 8;

void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    Q_UNUSED(address)
#endif
}

} // namespace

QList<PinEntry> sortedUniqueByCid(QList<PinEntry> pins)
{
    struct Row {
        CidKey key;
        int index;
    };
    std::vector<Row> order;
    order.reserve(size_t(pins.size()));
    bool narrow = true;
    for (qsizetype index = 0; index < pins.size(); ++index) {
        const QString& cid = pins.at(index).cid;
        if (cid.isEmpty())
            continue;
        if (narrow && !fitsNarrowKey(cid)) {
            // A character beyond Latin-1 near the start: every key is made wide, this one included.
            narrow = false;
            for (Row& row : order)
                row.key = cidKey(pins.at(row.index).cid, false);
        }
        order.push_back({ cidKey(cid, narrow), int(index) });
    }
    const QList<PinEntry>& rows = pins;
    std::sort(order.begin(), order.end(), [&rows](const Row& a, const Row& b) {
        if (!(a.key == b.key))
            return a.key < b.key;
        const int text = QString::compare(rows.at(a.index).cid, rows.at(b.index).cid, Qt::CaseSensitive);
        return text != 0 ? text < 0 : a.index < b.index;
    });

    QList<PinEntry> sorted;
    sorted.reserve(qsizetype(order.size()));
    PinEntry* entries = pins.data();
    for (size_t i = 0; i < order.size(); ++i) {
        if (i + kPrefetchDistance < order.size())
            prefetch(entries + order[i + kPrefetchDistance].index);
        // Rows of one CID are adjacent, in list order: keep the last.
        const bool lastOfCid = i + 1 == order.size() || !(order[i + 1].key == order[i].key)
            || entries[order[i + 1].index].cid != entries[order[i].index].cid;
        if (lastOfCid)
            sorted.append(std::move(entries[order[i].index]));
    }
    return sorted;
}

QList<PinEntry> mergeSortedByCid(QList<PinEntry> earlier, QList<PinEntry> later)
{
    QList<PinEntry> merged;
    merged.reserve(earlier.size() + later.size());
    PinEntry* a = earlier.data();
    PinEntry* b = later.data();
    const qsizetype sizeA = earlier.size();
    const qsizetype sizeB = later.size();
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < sizeA && j < sizeB) {
        if (i + qsizetype(kPrefetchDistance) < sizeA)
            prefetch(a[i + kPrefetchDistance].cid.constData());
        if (j + qsizetype(kPrefetchDistance) < sizeB)
            prefetch(b[j + kPrefetchDistance].cid.constData());
        const int order = QString::compare(a[i].cid, b[j].cid, Qt::CaseSensitive);
        if (order < 0) {
            merged.append(std::move(a[i++]));
        } else {
            if (order == 0)
                ++i;
            merged.append(std::move(b[j++]));
        }
    }
    for (; i < sizeA; ++i)
        merged.append(std::move(a[i]));
    for (; j < sizeB; ++j)
        merged.append(std::move(b[j]));
    return merged;
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
