// One line of a "/refs/local" stream.
#include "fuzzsupport.h"
#include "refsparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray line = fuzzInput(data, size);
    const QString ref = parseRefsLocalLine(line);
    // Surrounding white space never changes the answer.
    FUZZ_CHECK(parseRefsLocalLine(" \t" + line + "\r\n") == ref);
    return 0;
}
