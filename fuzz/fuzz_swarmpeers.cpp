// The "/swarm/peers" and "/swarm/addrs" readers, on whatever object the body holds.
#include "fuzzsupport.h"
#include "swarmparsers.h"

#include <QJsonDocument>

namespace {

void checkEntries(const QStringList& entries)
{
    for (const QString& entry : entries)
        FUZZ_CHECK(!entry.isEmpty() && entry == entry.trimmed());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonObject object = QJsonDocument::fromJson(fuzzInput(data, size)).object();
    checkEntries(parseSwarmPeers(object));
    const QHash<QString, QStringList> addrs = parseSwarmAddrs(object);
    for (auto it = addrs.constBegin(); it != addrs.constEnd(); ++it) {
        FUZZ_CHECK(!it.key().isEmpty() && it.key() == it.key().trimmed());
        checkEntries(it.value());
    }
    return 0;
}
