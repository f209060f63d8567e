// The network snapshot document, built from what the three endpoints answered. The input holds the
// swarm peers, DHT stats and bitswap bodies, separated by lines of "---"; each is read as the client
// reads it, and a body that does not read counts as that endpoint's failure.
#include "dhtparser.h"
#include "fuzzsupport.h"
#include "networksnapshot.h"
#include "swarmparsers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

QList<QByteArray> splitBodies(const QByteArray& input)
{
    QList<QByteArray> bodies;
    qsizetype start = 0;
    for (int i = 0; i < 2; ++i) {
        const qsizetype separator = input.indexOf("\n---\n", start);
        if (separator < 0)
            break;
        bodies.append(input.mid(start, separator - start));
        start = separator + 5;
    }
    bodies.append(input.mid(start));
    while (bodies.size() < 3)
        bodies.append(QByteArray());
    return bodies;
}

bool readObject(const QByteArray& body, QJsonObject* object)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    *object = document.object();
    return document.isObject();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> bodies = splitBodies(fuzzInput(data, size));
    NetworkSnapshot::State state;

    QJsonObject swarm;
    state.swarmDone = true;
    state.swarmOk = readObject(bodies.at(0), &swarm);
    if (state.swarmOk)
        state.swarmPeers = parseSwarmPeers(swarm);
    else
        state.swarmError = QStringLiteral("Swarm peers: invalid JSON");

    const DhtStatsBody dht = parseDhtStatsBody(bodies.at(1));
    state.dhtDone = true;
    state.dhtOk = dht.ok;
    state.dhtStats = dht.data;
    state.dhtError = dht.error;

    state.bitswapDone = true;
    state.bitswapOk = readObject(bodies.at(2), &state.bitswapStat);
    if (!state.bitswapOk)
        state.bitswapError = QStringLiteral("Bitswap stat: invalid JSON");

    const QJsonObject document
        = NetworkSnapshot::build(state, QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
    FUZZ_CHECK(document.value(QLatin1String("source")).toString() == QLatin1String("network_snapshot"));
    FUZZ_CHECK(
        document.value(QLatin1String("swarm")).toObject().value(QLatin1String("peers")).toArray().size()
        == state.swarmPeers.size());

    const QJsonObject health = document.value(QLatin1String("health")).toObject();
    static const QStringList states = { QStringLiteral("unknown"), QStringLiteral("good"),
        QStringLiteral("degraded"), QStringLiteral("poor") };
    FUZZ_CHECK(states.contains(health.value(QLatin1String("state")).toString()));
    // Without a single answer there is nothing to rate: no score, never a made-up 0.
    const QJsonValue score = health.value(QLatin1String("score_0_100"));
    if (health.value(QLatin1String("state")).toString() == QLatin1String("unknown"))
        FUZZ_CHECK(score.isNull());
    else
        FUZZ_CHECK(score.toInt(-1) >= 0 && score.toInt(-1) <= 100);

    const QJsonObject derived
        = document.value(QLatin1String("bitswap")).toObject().value(QLatin1String("derived")).toObject();
    const double ratio = derived.value(QLatin1String("dup_data_ratio")).toDouble(-1);
    FUZZ_CHECK(qIsFinite(ratio));

    // The document is also a file format: it must write and read back as the same JSON.
    const QByteArray file = QJsonDocument(document).toJson(QJsonDocument::Indented);
    FUZZ_CHECK(QJsonDocument::fromJson(file).object() == document);
    return 0;
}
