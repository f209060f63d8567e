// CID texts: whatever the decoder accepts, the encoders write back as the node would.
#include "cidtext.h"
#include "fuzzsupport.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzInput(data, size));
    const CidParts parts = decodeCid(text);
    if (!parts.isValid()) {
        FUZZ_CHECK(cidMultihash(text).isEmpty());
        return 0;
    }
    FUZZ_CHECK(!parts.multihash.isEmpty());
    const QString v1 = cidV1Text(parts.codec, parts.multihash);
    CidParts again = decodeCid(v1);
    FUZZ_CHECK(again.version == 1 && again.codec == parts.codec && again.multihash == parts.multihash);
    if (parts.version == 0)
        FUZZ_CHECK(cidV0Text(parts.multihash) == text);
    else if (text.startsWith(QLatin1Char('b')))
        FUZZ_CHECK(v1 == text);
    const QString other = otherCidVersionText(text);
    if (!other.isEmpty()) {
        again = decodeCid(other);
        FUZZ_CHECK(again.version == 1 - parts.version && again.multihash == parts.multihash);
    }
    return 0;
}
