// One line of a "/refs" reply, and the whole-body reader built on it.
#include "fuzzsupport.h"
#include "refsparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzInput(data, size);

    QStringList expected;
    for (const QByteArray& line : body.split('\n')) {
        const QString ref = parseRefsLine(line);
        if (!ref.isEmpty())
            expected.append(ref);
    }
    FUZZ_CHECK(parseRefsReply(body) == expected);
    const QString walkError = refsWalkError(body);
    FUZZ_CHECK(walkError.isEmpty() || body.contains("\"Err\""));
    return 0;
}
