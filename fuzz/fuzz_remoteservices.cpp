// The remote pinning service listing and the error text of the service replies.
#include "fuzzsupport.h"
#include "remoteparsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzInput(data, size);
    const QString errorText = remoteReplyErrorText(body);
    FUZZ_CHECK(errorText == errorText.trimmed());

    const RemoteServicesReading reading = readRemoteServicesBody(body);
    if (reading.ok) {
        FUZZ_CHECK(reading.error.isEmpty());
        for (const RemoteServiceEntry& service : reading.services)
            FUZZ_CHECK(!service.name.isEmpty());
        FUZZ_CHECK(reading.unreachable.size() <= reading.services.size());
    } else {
        FUZZ_CHECK(!reading.error.isEmpty() && reading.services.isEmpty());
    }
    return 0;
}
