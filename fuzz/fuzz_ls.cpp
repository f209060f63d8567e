// The "/ls" reply reader.
#include "fuzzsupport.h"
#include "lsparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzInput(data, size);
    QString error = QStringLiteral("stale");
    const QList<LsEntry> entries = parseLsResponse(body, &error);
    if (!entries.isEmpty())
        FUZZ_CHECK(error.isEmpty());
    FUZZ_CHECK(error != QLatin1String("stale"));
    // Without a place for the error the links are the same.
    FUZZ_CHECK(parseLsResponse(body, nullptr).size() == entries.size());
    return 0;
}
