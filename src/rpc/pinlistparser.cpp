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
// Printable ASCII without a backslash: text that means what it says, with nothing to unescape.
// Eight bytes at a time: a million lines are a hundred megabytes of them.
bool isPlainText(const char* begin, const char* end)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    const char* cursor = begin;
    for (; end - cursor >= 8; cursor += 8) {
        quint64 word;
        std::memcpy(&word, cursor, 8);
        const quint64 control = (word - ones * 0x20) & ~word; // a byte below 0x20
        const quint64 high = (word + ones) | word; // a byte of 0x7f or more
        const quint64 backslash = word ^ (ones * '\\');
        const quint64 hasBackslash = (backslash - ones) & ~backslash;
        if ((control | high | hasBackslash) & highs)
            return false;
    }
    for (; cursor < end; ++cursor) {
        const auto c = static_cast<unsigned char>(*cursor);
        if (c < 0x20 || c > 0x7e || c == '\\')
            return false;
    }
    return true;
}

template <qsizetype N> bool isKey(QByteArrayView key, const char (&name)[N])
{
    return key.size() == N - 1 && std::memcmp(key.data(), name, N - 1) == 0;
}

struct FlatPinLine {
    QByteArrayView cid;
    QByteArrayView type;
    QByteArrayView name;
    bool read = false; // the fields were read, even if the line is refused
};

LineVerdict readFlatPinLine(const char* cursor, const char* end, FlatPinLine* line)
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
        const auto* quote = static_cast<const char*>(std::memchr(cursor, '"', size_t(end - cursor)));
        if (!quote || !isPlainText(start, quote))
            return false;
        *text = QByteArrayView(start, quote - start);
        cursor = quote + 1;
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
        if (isKey(key, "Cid"))
            field = Cid;
        else if (isKey(key, "Type"))
            field = Type;
        else if (isKey(key, "Name"))
            field = Name;
        else if (isKey(key, "PinLsObject"))
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
    // An empty CID is read like any other, as the JSON reader does, and then refused.
    *line = FlatPinLine { fields[Cid], fields[Type], fields[Name], true };
    return fields[Cid].isEmpty() ? LineVerdict::Rejected : LineVerdict::Accepted;
}

void fillEntry(const FlatPinLine& line, PinEntry* entry, const QString* heldCid = nullptr)
{
    entry->cid = heldCid ? *heldCid : QString::fromLatin1(line.cid);
    entry->type = pinTypeText(line.type);
    entry->name = QString::fromLatin1(line.name);
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
    FlatPinLine flat;
    switch (readFlatPinLine(line.constData(), line.constData() + line.size(), &flat)) {
    case LineVerdict::Accepted:
        fillEntry(flat, entry);
        return true;
    case LineVerdict::Rejected:
        if (flat.read)
            fillEntry(flat, entry);
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

CidKey latin1CidKey(QByteArrayView cid)
{
    CidKey key;
    for (int i = 0; i < 16; ++i) {
        const quint64 unit = i < cid.size() ? static_cast<unsigned char>(cid.at(i)) : 0u;
        quint64& word = i < 8 ? key.high : key.low;
        word = (word << 8) | unit;
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
    // Merged from the back into `later`, grown in place, so that a million entries never exist
    // twice. For a CID in both lists the entry of `later` stays and that of `earlier` is dropped.
    const qsizetype sizeA = earlier.size();
    const qsizetype sizeB = later.size();
    later.resize(sizeA + sizeB);
    PinEntry* a = earlier.data();
    PinEntry* b = later.data();
    qsizetype i = sizeA - 1;
    qsizetype j = sizeB - 1;
    qsizetype k = sizeA + sizeB - 1;
    while (i >= 0 && j >= 0) {
        if (i >= qsizetype(kPrefetchDistance))
            prefetch(a[i - kPrefetchDistance].cid.constData());
        if (j >= qsizetype(kPrefetchDistance))
            prefetch(b[j - kPrefetchDistance].cid.constData());
        const int order = QString::compare(a[i].cid, b[j].cid, Qt::CaseSensitive);
        if (order > 0) {
            b[k--] = std::move(a[i--]);
        } else {
            if (order == 0)
                --i;
            b[k--] = std::move(b[j--]);
        }
    }
    while (i >= 0)
        b[k--] = std::move(a[i--]);
    // Entries of `later` still in front are in place unless duplicates left a gap behind them.
    for (; j >= 0; --j, --k) {
        if (k != j)
            b[k] = std::move(b[j]);
    }
    later.remove(0, k + 1);
    return later;
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

namespace {

// Moves the texts that the entries will be made of to the front of the body, in body order, and
// gives the rest back: keys, quotes and the same type on every line are a third of a large body.
// A text never moves past its own start, since every text before it lies before it in the body.
// A type that repeats the previous one shares its text. Empty texts keep their spans.
template <typename Line> void compactTexts(QByteArray& body, std::vector<Line>& lines)
{
    char* text = body.data();
    quint32 written = 0;
    quint32 lastTypeOffset = 0;
    quint16 lastTypeSize = 0;
    for (Line& line : lines) {
        if (line.wasParsed())
            continue;
        struct Field {
            quint32* offset;
            quint16 size;
            bool isType;
        };
        Field fields[] = { { &line.spans.cid, line.spans.cidSize, false },
            { &line.spans.name, line.spans.nameSize, false },
            { &line.spans.type, line.spans.typeSize, true } };
        std::sort(std::begin(fields), std::end(fields),
            [](const Field& a, const Field& b) { return *a.offset < *b.offset; });
        for (const Field& field : fields) {
            if (field.size == 0)
                continue;
            if (field.isType && field.size == lastTypeSize
                && std::memcmp(text + *field.offset, text + lastTypeOffset, field.size) == 0) {
                *field.offset = lastTypeOffset;
                continue;
            }
            std::memmove(text + written, text + *field.offset, field.size);
            *field.offset = written;
            if (field.isType) {
                lastTypeOffset = written;
                lastTypeSize = field.size;
            }
            written += field.size;
        }
    }
    body.truncate(written);
    body.squeeze();
}

} // namespace

ParsedPinsPayload parsePinListBodyByCid(QByteArray body, const QStringList& heldCids)
{
    // The object form lists few pins in practice; it is sorted after the fact.
    const QJsonObject keys = keysObject(QJsonDocument::fromJson(body));
    if (!keys.isEmpty()) {
        ParsedPinsPayload payload = parsePinListBody(body);
        payload.pins = sortedUniqueByCid(std::move(payload.pins));
        return payload;
    }

    // Lines are read into views of the body, sorted, and only then turned into entries, so that
    // the strings are allocated in CID order: the table later walks its rows in that order, and
    // finds each row's text next to the previous one's in memory.
    // Where a line's texts lie in the body, in 20 bytes rather than three views' 48.
    struct Spans {
        quint32 cid = 0;
        quint32 type = 0;
        quint32 name = 0;
        quint16 cidSize = 0;
        quint16 typeSize = 0;
        quint16 nameSize = 0;

        static QByteArrayView view(const char* data, quint32 offset, quint16 length)
        {
            return QByteArrayView(data + offset, length);
        }
    };
    // The spans travel with the line through the sort: read in sorted order from a table in body
    // order, each one would wait for memory as long as the text it points at. A line read by the
    // JSON reader has no spans (a read CID is never empty): `spans.cid` is then its index into
    // `parsed`.
    struct Line {
        CidKey key;
        Spans spans;
        qint32 sequence; // order in the body: of equal CIDs the last one wins

        bool wasParsed() const { return spans.cidSize == 0; }
    };
    const char* data = body.constData();
    const qsizetype size = body.size();
    const auto sortSlowly = [&body] {
        ParsedPinsPayload payload = parsePinListBody(body);
        payload.pins = sortedUniqueByCid(std::move(payload.pins));
        return payload;
    };
    const auto fits = [](QByteArrayView text) { return text.size() <= 0xffff; };
    if (size > qsizetype(0xffffffffu))
        return sortSlowly();
    const qsizetype lineEstimate = countLineFeeds(data, data + size) + 1;
    std::vector<Line> lines;
    lines.reserve(size_t(lineEstimate));
    QList<PinEntry> parsed;
    for (qsizetype start = 0; start < size;) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = size;
        if (!isBlank(data + start, data + end)) {
            FlatPinLine flat;
            const qint32 sequence = qint32(lines.size());
            switch (readFlatPinLine(data + start, data + end, &flat)) {
            case LineVerdict::Accepted:
                if (!fits(flat.cid) || !fits(flat.type) || !fits(flat.name))
                    return sortSlowly();
                lines.push_back({ latin1CidKey(flat.cid),
                    { quint32(flat.cid.data() - data), quint32(flat.type.data() - data),
                        quint32(flat.name.data() - data), quint16(flat.cid.size()), quint16(flat.type.size()),
                        quint16(flat.name.size()) },
                    sequence });
                break;
            case LineVerdict::Rejected:
                break;
            case LineVerdict::Unsure: {
                PinEntry entry;
                const QJsonDocument document
                    = QJsonDocument::fromJson(QByteArray::fromRawData(data + start, end - start));
                if (!document.isObject() || !pinEntryFromObject(document.object(), &entry))
                    break;
                // Keys of such CIDs are not comparable with the others: sort the slow way.
                if (!fitsNarrowKey(entry.cid))
                    return sortSlowly();
                Spans index;
                index.cid = quint32(parsed.size());
                lines.push_back({ cidKey(entry.cid, true), index, sequence });
                parsed.append(std::move(entry));
                break;
            }
            }
        }
        start = end + 1;
    }

    // Only a body of our own: compacting a shared one would copy it first.
    if (body.isDetached() && !lines.empty()) {
        compactTexts(body, lines);
        data = body.constData();
    }

    const auto cidOf = [&](const Line& line) {
        return QLatin1StringView(Spans::view(data, line.spans.cid, line.spans.cidSize));
    };
    const auto parsedCidOf = [&](const Line& line) { return QStringView(parsed.at(line.spans.cid).cid); };
    const auto compareCids = [&](const Line& a, const Line& b) {
        if (!a.wasParsed() && !b.wasParsed())
            return QtPrivate::compareStrings(cidOf(a), cidOf(b), Qt::CaseSensitive);
        if (!a.wasParsed())
            return QtPrivate::compareStrings(cidOf(a), parsedCidOf(b), Qt::CaseSensitive);
        if (!b.wasParsed())
            return QtPrivate::compareStrings(parsedCidOf(a), cidOf(b), Qt::CaseSensitive);
        return QtPrivate::compareStrings(parsedCidOf(a), parsedCidOf(b), Qt::CaseSensitive);
    };
    std::sort(lines.begin(), lines.end(), [&](const Line& a, const Line& b) {
        if (!(a.key == b.key))
            return a.key < b.key;
        const int order = compareCids(a, b);
        return order != 0 ? order < 0 : a.sequence < b.sequence;
    });

    // The held CIDs are walked beside the sorted lines: one pass finds each line's text among them.
    qsizetype held = 0;
    const auto heldCidOf = [&](QLatin1StringView cid) -> const QString* {
        for (; held < heldCids.size(); ++held) {
            const int order
                = QtPrivate::compareStrings(QStringView(heldCids.at(held)), cid, Qt::CaseSensitive);
            if (order == 0)
                return &heldCids.at(held);
            if (order > 0)
                break;
        }
        return nullptr;
    };

    ParsedPinsPayload payload;
    payload.pins.reserve(qsizetype(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i + kPrefetchDistance < lines.size() && !lines[i + kPrefetchDistance].wasParsed())
            prefetch(data + lines[i + kPrefetchDistance].spans.cid);
        const Line& line = lines[i];
        const bool lastOfCid = i + 1 == lines.size() || !(lines[i + 1].key == line.key)
            || compareCids(lines[i + 1], line) != 0;
        if (!lastOfCid)
            continue;
        if (line.wasParsed()) {
            payload.pins.append(std::move(parsed[line.spans.cid]));
            continue;
        }
        const Spans& spans = line.spans;
        PinEntry entry;
        fillEntry(
            { Spans::view(data, spans.cid, spans.cidSize), Spans::view(data, spans.type, spans.typeSize),
                Spans::view(data, spans.name, spans.nameSize) },
            &entry, heldCidOf(cidOf(line)));
        payload.pins.append(std::move(entry));
    }
    return payload;
}
