// The "/bootstrap/list" (and add/remove) reader, on whatever object the body holds.
#include "fuzzsupport.h"
#include "swarmparsers.h"

#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonObject object = QJsonDocument::fromJson(fuzzInput(data, size)).object();
    for (const QString& peer : parseBootstrapPeers(object))
        FUZZ_CHECK(!peer.isEmpty() && peer == peer.trimmed());
    return 0;
}
