// A whole pin listing body, and the line counter that reports progress while it streams in.
#include "fuzzsupport.h"
#include "pinlistparser.h"

#include <algorithm>

namespace {

bool isBlankLine(QByteArrayView line)
{
    return std::all_of(line.begin(), line.end(),
        [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzInput(data, size);

    const ParsedPinsPayload payload = parsePinListBody(body);
    FUZZ_CHECK(payload.total >= 0);
    if (payload.total > 0)
        FUZZ_CHECK(payload.pins.size() == payload.total);
    for (const PinEntry& pin : payload.pins) {
        if (payload.total == 0) // the line form keeps only entries that name a CID
            FUZZ_CHECK(!pin.cid.isEmpty());
    }

    // The sorted reading, used for the halves of "recursive+direct", agrees with reading and
    // sorting afterwards.
    // A body of its own, as a finished listing's is, is compacted while it is read.
    const ParsedPinsPayload sorted = parsePinListBodyByCid(QByteArray(body.constData(), body.size()));
    const QList<PinEntry> expected = sortedUniqueByCid(payload.pins);
    FUZZ_CHECK(sorted.total == payload.total);
    FUZZ_CHECK(sorted.pins.size() == expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        FUZZ_CHECK(sorted.pins.at(i).cid == expected.at(i).cid);
        FUZZ_CHECK(sorted.pins.at(i).type == expected.at(i).type);
        FUZZ_CHECK(sorted.pins.at(i).name == expected.at(i).name);
        if (i > 0)
            FUZZ_CHECK(expected.at(i - 1).cid < expected.at(i).cid);
    }

    // Sharing the texts of CIDs already held changes no entry; nor does reading a shared body,
    // which is left as it is.
    QStringList held;
    for (qsizetype i = 0; i < expected.size(); i += 2)
        held.append(QString(expected.at(i).cid.constData(), expected.at(i).cid.size()));
    const ParsedPinsPayload sharing = parsePinListBodyByCid(body, held);
    FUZZ_CHECK(sharing.pins.size() == sorted.pins.size());
    for (qsizetype i = 0; i < sorted.pins.size(); ++i) {
        FUZZ_CHECK(sharing.pins.at(i).cid == sorted.pins.at(i).cid);
        FUZZ_CHECK(sharing.pins.at(i).type == sorted.pins.at(i).type);
        FUZZ_CHECK(sharing.pins.at(i).name == sorted.pins.at(i).name);
    }

    // The count of complete non-blank lines, and where the unfinished one starts, must not depend
    // on how the stream was cut.
    int expectedLines = 0;
    qsizetype expectedTail = 0;
    for (qsizetype start = 0, end; (end = body.indexOf('\n', start)) >= 0; start = end + 1) {
        if (!isBlankLine(QByteArrayView(body).sliced(start, end - start)))
            ++expectedLines;
        expectedTail = end + 1;
    }
    PinLineCounter whole;
    FUZZ_CHECK(whole.feed(body) == expectedLines);
    FUZZ_CHECK(whole.tailStart() == expectedTail);

    PinLineCounter chunked;
    int chunkedLines = 0;
    for (const QByteArrayView chunk : fuzzChunks(body))
        chunkedLines += chunked.feed(chunk);
    FUZZ_CHECK(chunkedLines == expectedLines);
    FUZZ_CHECK(chunked.tailStart() == expectedTail);
    return 0;
}
