// A node's HTTP answer as the reply reads it off the connection: split anywhere, it frames the same.
#include "fuzzsupport.h"
#include "httpresponsereader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzzInput(data, size);
    if (bytes.isEmpty())
        return 0;

    HttpResponseReader whole;
    QByteArrayList wholeBody;
    const bool wholeOk = whole.feed(bytes, wholeBody);

    // The first byte picks the step of the second reading.
    const int step = 1 + int(quint8(bytes.at(0))) % 7;
    HttpResponseReader pieces;
    QByteArrayList piecesBody;
    bool piecesOk = true;
    for (qsizetype at = 0; at < bytes.size() && piecesOk; at += step)
        piecesOk = pieces.feed(bytes.mid(at, step), piecesBody);

    FUZZ_CHECK(wholeOk == piecesOk);
    FUZZ_CHECK(whole.isComplete() == pieces.isComplete());
    if (wholeOk) {
        FUZZ_CHECK(wholeBody.join() == piecesBody.join());
        FUZZ_CHECK(whole.statusCode() == pieces.statusCode());
        FUZZ_CHECK(whole.trailerFields() == pieces.trailerFields());
    }
    whole.endOfInput();
    FUZZ_CHECK(whole.isComplete() || whole.hasFailed());
    return 0;
}
