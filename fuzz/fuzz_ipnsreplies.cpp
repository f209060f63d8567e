// The IPNS key list, publish and resolve replies, read as the client reads them: through the generic
// reply reader, then the reader of each operation.
#include "fuzzsupport.h"
#include "ipnsparsers.h"
#include "kuboreplyparser.h"

namespace {

bool isTrimmed(const QString& text)
{
    return text == text.trimmed();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const KuboReplyResult reply
        = parseKuboReplyBody(fuzzInput(data, size), false, QString(), QStringLiteral("list IPNS keys"));
    if (!reply.ok)
        return 0;

    for (const IpnsKeyEntry& key : parseIpnsKeys(reply.json))
        FUZZ_CHECK(!key.name.isEmpty() && isTrimmed(key.name) && isTrimmed(key.id));

    const IpnsPublishResult published = parseIpnsPublishResult(reply.json, QStringLiteral("self"));
    FUZZ_CHECK(published.key == QLatin1String("self"));
    FUZZ_CHECK(isTrimmed(published.name) && isTrimmed(published.value));

    const IpnsResolveResult resolved = parseIpnsResolveResult(reply.json, QStringLiteral("/ipns/k51"));
    FUZZ_CHECK(resolved.name == QLatin1String("/ipns/k51") && isTrimmed(resolved.path));
    return 0;
}
