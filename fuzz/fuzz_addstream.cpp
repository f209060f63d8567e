// The "/add" progress stream: one line, and the buffer reader fed as the network cuts the stream.
#include "addstreamparser.h"
#include "fuzzsupport.h"

namespace {

bool sameLine(const AddStreamLine& a, const AddStreamLine& b)
{
    return a.kind == b.kind && a.error == b.error && a.entry.name == b.entry.name
        && a.entry.hash == b.entry.hash && a.entry.size == b.entry.size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray stream = fuzzInput(data, size);

    QByteArray whole = stream;
    const QList<AddStreamLine> expected = takeAddStreamLines(whole);
    FUZZ_CHECK(!whole.contains('\n'));
    FUZZ_CHECK(stream.endsWith(whole));
    for (const AddStreamLine& line : expected) {
        FUZZ_CHECK(line.kind != AddStreamLine::Ignored);
        if (line.kind == AddStreamLine::Entry)
            FUZZ_CHECK(!line.entry.hash.isEmpty());
        else
            FUZZ_CHECK(!line.error.isEmpty() && line.error == line.error.trimmed());
    }

    QByteArray buffer;
    QList<AddStreamLine> chunked;
    for (const QByteArrayView chunk : fuzzChunks(stream)) {
        buffer.append(chunk);
        chunked += takeAddStreamLines(buffer);
    }
    FUZZ_CHECK(buffer == whole);
    FUZZ_CHECK(chunked.size() == expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        FUZZ_CHECK(sameLine(chunked.at(i), expected.at(i)));

    // The unfinished tail, read as the stream's last line.
    const AddStreamLine last = parseAddStreamLine(whole);
    if (last.kind == AddStreamLine::Entry)
        FUZZ_CHECK(!last.entry.hash.isEmpty());
    return 0;
}
