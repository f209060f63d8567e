#include "networksnapshot.h"

#include <QJsonArray>
#include <QVariant>
#include <QtNumeric>

#include <limits>

using namespace Qt::StringLiterals;

namespace NetworkSnapshot {

namespace {

QJsonObject endpointStatus(bool ok, const QString& error)
{
    return { { u"ok"_s, ok }, { u"error"_s, error } };
}

QString swarmDirection(const QString& entry)
{
    if (entry.contains("inbound"_L1, Qt::CaseInsensitive))
        return u"inbound"_s;
    if (entry.contains("outbound"_L1, Qt::CaseInsensitive))
        return u"outbound"_s;
    return u"unknown"_s;
}

// A number the snapshot could not learn: the endpoint failed or has not answered yet.
constexpr QJsonValue::Type kUnknown = QJsonValue::Null;

QJsonObject buildSwarm(const QStringList& peers, bool known)
{
    QJsonArray peerArray;
    int inbound = 0;
    int outbound = 0;
    for (const QString& entry : peers) {
        const QString direction = swarmDirection(entry);
        if (direction == "inbound"_L1)
            ++inbound;
        else if (direction == "outbound"_L1)
            ++outbound;
        peerArray.append(QJsonObject { { u"peer_id"_s, QString() }, { u"addr"_s, entry },
            { u"latency_ms"_s, QJsonValue::Null }, { u"direction"_s, direction }, { u"muxer"_s, QString() },
            { u"streams"_s, QJsonArray() } });
    }
    const QJsonObject latency { { u"min"_s, QJsonValue::Null }, { u"p50"_s, QJsonValue::Null },
        { u"p95"_s, QJsonValue::Null }, { u"max"_s, QJsonValue::Null } };
    const QJsonObject summary { { u"count"_s, known ? QJsonValue(peers.size()) : kUnknown },
        { u"inbound"_s, known ? QJsonValue(inbound) : kUnknown },
        { u"outbound"_s, known ? QJsonValue(outbound) : kUnknown }, { u"latency_ms"_s, latency } };
    return { { u"summary"_s, summary }, { u"peers"_s, peerArray } };
}

QList<QJsonObject> dhtObjects(const QJsonValue& dhtStats)
{
    QList<QJsonObject> result;
    if (dhtStats.isArray()) {
        const QJsonArray array = dhtStats.toArray();
        for (const QJsonValue& element : array) {
            if (element.isObject())
                result.append(element.toObject());
        }
    } else if (dhtStats.isObject()) {
        result.append(dhtStats.toObject());
    }
    return result;
}

struct DhtTotals {
    qint64 buckets = 0;
    qint64 peers = 0;
    qint64 connectedPeers = 0;
};

QJsonObject buildDhtPeer(const QJsonObject& peer)
{
    return { { u"peer_id"_s, peer.value("ID"_L1).toString() },
        { u"connected"_s, peer.value("Connected"_L1).toBool(false) },
        { u"agent_version"_s, peer.value("AgentVersion"_L1).toString() },
        { u"last_queried_at"_s, peer.value("LastQueriedAt"_L1).toString() },
        { u"last_useful_at"_s, peer.value("LastUsefulAt"_L1).toString() } };
}

QJsonObject buildDht(const QJsonObject& dht, DhtTotals& totals)
{
    const QJsonValue name = dht.value("Name"_L1);
    const QJsonArray buckets = dht.value("Buckets"_L1).toArray();

    QJsonArray bucketArray;
    qint64 peerCount = 0;
    qint64 connectedCount = 0;
    for (qsizetype index = 0; index < buckets.size(); ++index) {
        const QJsonObject bucket = buckets.at(index).toObject();
        const QJsonArray peers = bucket.value("Peers"_L1).toArray();
        QJsonArray peerArray;
        qint64 connected = 0;
        for (const QJsonValue& element : peers) {
            const QJsonObject peer = buildDhtPeer(element.toObject());
            if (peer.value("connected"_L1).toBool())
                ++connected;
            peerArray.append(peer);
        }
        peerCount += peers.size();
        connectedCount += connected;
        bucketArray.append(QJsonObject { { u"index"_s, index },
            { u"last_refresh"_s, bucket.value("LastRefresh"_L1).toString() },
            { u"peer_count"_s, peers.size() }, { u"connected_peer_count"_s, connected },
            { u"peers"_s, peerArray } });
    }

    totals.buckets += buckets.size();
    totals.peers += peerCount;
    totals.connectedPeers += connectedCount;
    return { { u"name"_s, name.isString() ? name.toString() : u"wan"_s },
        { u"bucket_count"_s, buckets.size() }, { u"peer_count"_s, peerCount },
        { u"connected_peer_count"_s, connectedCount }, { u"buckets"_s, bucketArray } };
}

QJsonObject buildDhtSection(const QJsonValue& dhtStats, bool known, DhtTotals& totals)
{
    QJsonArray dhts;
    for (const QJsonObject& dht : dhtObjects(dhtStats))
        dhts.append(buildDht(dht, totals));
    const auto count = [known](qint64 value) { return known ? QJsonValue(value) : kUnknown; };
    const QJsonObject summary { { u"total_dhts"_s, count(dhts.size()) },
        { u"total_buckets"_s, count(totals.buckets) }, { u"total_peers"_s, count(totals.peers) },
        { u"connected_peers"_s, count(totals.connectedPeers) } };
    return { { u"dhts"_s, dhts }, { u"summary"_s, summary } };
}

QJsonObject buildBitswap(const QJsonObject& stat, bool known)
{
    const QJsonValue peersValue = stat.value("Peers"_L1);
    const QJsonArray peers = peersValue.toArray();
    const QJsonArray wantlist = stat.value("Wantlist"_L1).toArray();

    QJsonArray cids;
    for (const QJsonValue& element : wantlist) {
        if (element.isObject())
            cids.append(element.toObject().value("/"_L1).toString());
    }

    const qint64 dataReceived = toInt64(stat.value("DataReceived"_L1));
    const qint64 dataSent = toInt64(stat.value("DataSent"_L1));
    const qint64 dupDataReceived = toInt64(stat.value("DupDataReceived"_L1));
    const auto number = [known](const QJsonValue& value) { return known ? value : kUnknown; };
    const QJsonObject counters {
        { u"blocks_received"_s, number(toInt64(stat.value("BlocksReceived"_L1))) },
        { u"blocks_sent"_s, number(toInt64(stat.value("BlocksSent"_L1))) },
        { u"data_received_bytes"_s, number(dataReceived) },
        { u"data_sent_bytes"_s, number(dataSent) },
        { u"duplicate_blocks_received"_s, number(toInt64(stat.value("DupBlksReceived"_L1))) },
        { u"duplicate_data_received_bytes"_s, number(dupDataReceived) },
        { u"messages_received"_s, number(toInt64(stat.value("MessagesReceived"_L1))) },
    };
    qint64 trafficTotal = 0;
    if (qAddOverflow(dataReceived, dataSent, &trafficTotal)) // saturate instead of wrapping
        trafficTotal
            = dataReceived > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    const double dupRatio = dataReceived < 1 ? 0.0 : double(dupDataReceived) / double(dataReceived);

    return { { u"summary"_s,
                 QJsonObject { { u"peer_count"_s, number(peers.size()) },
                     { u"wantlist_size"_s, number(wantlist.size()) } } },
        { u"counters"_s, counters },
        // Copied as sent; a "Peers" of another type counts as missing.
        { u"peers"_s, QJsonObject { { u"ids"_s, peers } } },
        { u"wantlist"_s, QJsonObject { { u"cids"_s, cids } } },
        { u"derived"_s,
            QJsonObject { { u"traffic_total_bytes"_s, number(trafficTotal) },
                { u"dup_data_ratio"_s, number(dupRatio) } } } };
}

QJsonObject healthSignal(const QString& key, const QString& level, const QString& message)
{
    return { { u"key"_s, key }, { u"level"_s, level }, { u"message"_s, message } };
}

QJsonObject buildHealth(const State& state, qint64 dhtConnectedPeers)
{
    const QJsonArray bitswapPeers = state.bitswapStat.value("Peers"_L1).toArray();
    const QJsonArray wantlist = state.bitswapStat.value("Wantlist"_L1).toArray();

    const bool connectivity = state.swarmOk && !state.swarmPeers.isEmpty();
    const bool routing = state.dhtOk && dhtConnectedPeers >= 1;
    const bool exchange = state.bitswapOk && !bitswapPeers.isEmpty();
    const bool largeWantlist = state.bitswapOk && wantlist.size() > 100;

    const QString connectivityMessage
        = state.swarmOk ? u"Connected peers: %1"_s.arg(state.swarmPeers.size()) : state.swarmError;
    const QString routingMessage
        = state.dhtOk ? u"Connected DHT peers: %1"_s.arg(dhtConnectedPeers) : state.dhtError;
    const QString exchangeMessage = state.bitswapOk
        ? u"Bitswap peers: %1, wantlist: %2"_s.arg(bitswapPeers.size()).arg(wantlist.size())
        : state.bitswapError;

    QString stateText;
    QJsonValue score = kUnknown; // no score without a single answer to rate
    QString connectivityLevel = u"unknown"_s;
    QString routingLevel = u"unknown"_s;
    QString exchangeLevel = u"unknown"_s;
    if (!state.swarmOk && !state.dhtOk && !state.bitswapOk) {
        stateText = u"unknown"_s;
    } else {
        connectivityLevel = connectivity ? u"good"_s : u"poor"_s;
        routingLevel = routing ? u"good"_s : u"degraded"_s;
        exchangeLevel = exchange ? u"good"_s : u"degraded"_s;
        if (connectivity && exchange && !largeWantlist) {
            stateText = u"good"_s;
            score = 85;
        } else if (connectivity && (exchange || routing)) {
            stateText = u"degraded"_s;
            score = 60;
        } else {
            stateText = u"poor"_s;
            score = 30;
        }
    }

    const QJsonArray signalList { healthSignal(u"connectivity"_s, connectivityLevel, connectivityMessage),
        healthSignal(u"routing"_s, routingLevel, routingMessage),
        healthSignal(u"exchange"_s, exchangeLevel, exchangeMessage) };
    return { { u"state"_s, stateText }, { u"score_0_100"_s, score }, { u"signals"_s, signalList } };
}

} // namespace

QJsonObject build(const State& state, const QDateTime& nowUtc)
{
    // An endpoint whose last request failed shows nothing of an earlier answer.
    DhtTotals dhtTotals;
    const QJsonObject dht
        = buildDhtSection(state.dhtOk ? state.dhtStats : QJsonValue(), state.dhtOk, dhtTotals);
    const QJsonObject endpoints { { u"swarm_peers"_s, endpointStatus(state.swarmOk, state.swarmError) },
        { u"dht_stats"_s, endpointStatus(state.dhtOk, state.dhtError) },
        { u"bitswap_stat"_s, endpointStatus(state.bitswapOk, state.bitswapError) } };
    return { { u"source"_s, u"network_snapshot"_s }, { u"timestamp"_s, nowUtc.toUTC().toString(Qt::ISODate) },
        { u"window_seconds"_s, 0 }, { u"endpoint_status"_s, endpoints },
        { u"swarm"_s, buildSwarm(state.swarmOk ? state.swarmPeers : QStringList(), state.swarmOk) },
        { u"dht"_s, dht },
        { u"bitswap"_s, buildBitswap(state.bitswapOk ? state.bitswapStat : QJsonObject(), state.bitswapOk) },
        { u"health"_s, buildHealth(state, dhtTotals.connectedPeers) } };
}

qint64 toInt64(const QJsonValue& value)
{
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok, 10);
        return ok ? number : 0;
    }
    if (!value.isDouble())
        return 0;
    // Whole numbers that the parser kept as integers stay exact.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (number >= limit)
        return std::numeric_limits<qint64>::max();
    if (number <= -limit)
        return std::numeric_limits<qint64>::min();
    return qint64(number); // truncates toward zero
}

} // namespace NetworkSnapshot
