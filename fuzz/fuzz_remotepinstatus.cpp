// The "/pin/remote/ls" reader that picks one CID's status. The CID asked for is the input's first
// line, so that the fuzzer can make it match an entry.
#include "fuzzsupport.h"
#include "remoteparsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzInput(data, size);
    const qsizetype lineEnd = input.indexOf('\n');
    const QString cid = QString::fromUtf8(lineEnd < 0 ? QByteArray() : input.left(lineEnd));
    const QByteArray body = lineEnd < 0 ? input : input.mid(lineEnd + 1);

    const RemotePinStatusReading reading = readRemotePinStatusBody(body, cid);
    if (reading.ok) {
        FUZZ_CHECK(reading.error.isEmpty());
        FUZZ_CHECK(!reading.status.isEmpty() && reading.status == reading.status.toLower());
    } else {
        FUZZ_CHECK(!reading.error.isEmpty() && reading.status.isEmpty());
    }
    return 0;
}
