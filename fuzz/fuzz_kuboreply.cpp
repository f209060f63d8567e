// The generic reply reader, for a body that came with and without a transport failure.
#include "fuzzsupport.h"
#include "kuboreplyparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzInput(data, size);
    const QString action = QStringLiteral("read config");
    const QString prefix = QStringLiteral("Failed to read config: ");

    const KuboReplyResult answered = parseKuboReplyBody(body, false, QString(), action);
    FUZZ_CHECK(answered.body == body);
    if (answered.ok)
        FUZZ_CHECK(answered.error.isEmpty());
    else
        FUZZ_CHECK(answered.error.startsWith(prefix) && answered.error.size() > prefix.size());

    const KuboReplyResult failed
        = parseKuboReplyBody(body, true, QStringLiteral("Connection refused"), action);
    FUZZ_CHECK(!failed.ok);
    FUZZ_CHECK(failed.error.startsWith(prefix) && failed.error.size() > prefix.size());
    return 0;
}
