// The "/stats/dht" body reader: one document, or one object per line.
#include "dhtparser.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DhtStatsBody read = parseDhtStatsBody(fuzzInput(data, size));
    if (read.ok)
        FUZZ_CHECK(read.error.isEmpty() && (read.data.isObject() || read.data.isArray()));
    else
        FUZZ_CHECK(!read.error.isEmpty());
    return 0;
}
