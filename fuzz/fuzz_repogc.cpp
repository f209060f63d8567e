// The "/repo/gc" body reader: streamed objects, or one whole object.
#include "fuzzsupport.h"
#include "repoparsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const RepoGcReport report = parseRepoGcBody(fuzzInput(data, size));
    for (const QString& cid : report.collectedCids)
        FUZZ_CHECK(!cid.isEmpty() && cid == cid.trimmed());
    for (const QString& error : report.errors)
        FUZZ_CHECK(!error.isEmpty() && error == error.trimmed());
    return 0;
}
