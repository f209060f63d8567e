#include <QtTest>

#include "networksnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <limits>

using namespace Qt::StringLiterals;
using NetworkSnapshot::State;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 1, 31), QTime(12, 34, 56, 789), Qt::UTC);

QJsonObject parse(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    if (error.error != QJsonParseError::NoError)
        qFatal("bad fixture: %s", qPrintable(error.errorString()));
    return object;
}

// A DHT with one bucket of `peers` peers of which `connected` are connected.
QJsonObject dhtWith(int peers, int connected)
{
    QJsonArray list;
    for (int i = 0; i < peers; ++i)
        list.append(QJsonObject { { u"ID"_s, u"p%1"_s.arg(i) }, { u"Connected"_s, i < connected } });
    return { { u"Name"_s, u"wan"_s }, { u"Buckets"_s, QJsonArray { QJsonObject { { u"Peers"_s, list } } } } };
}

QJsonObject bitswapWith(int peers, int wantlist)
{
    QJsonArray peerList;
    for (int i = 0; i < peers; ++i)
        peerList.append(u"p%1"_s.arg(i));
    QJsonArray wants;
    for (int i = 0; i < wantlist; ++i)
        wants.append(QJsonObject { { u"/"_s, u"c%1"_s.arg(i) } });
    return { { u"Peers"_s, peerList }, { u"Wantlist"_s, wants } };
}

} // namespace

class TestNetworkSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void beforeAnyAnswer()
    {
        const QJsonObject snapshot = NetworkSnapshot::build(State(), kNow);
        const QJsonObject expected = parse(R"({
            "source": "network_snapshot", "timestamp": "2026-01-31T12:34:56Z", "window_seconds": 0,
            "endpoint_status": {"swarm_peers": {"ok": false, "error": ""},
                                "dht_stats": {"ok": false, "error": ""},
                                "bitswap_stat": {"ok": false, "error": ""}},
            "swarm": {"summary": {"count": null, "inbound": null, "outbound": null,
                                  "latency_ms": {"min": null, "p50": null, "p95": null, "max": null}},
                      "peers": []},
            "dht": {"dhts": [], "summary": {"total_dhts": null, "total_buckets": null, "total_peers": null,
                                            "connected_peers": null}},
            "bitswap": {"summary": {"peer_count": null, "wantlist_size": null},
                        "counters": {"blocks_received": null, "blocks_sent": null, "data_received_bytes": null,
                                     "data_sent_bytes": null, "duplicate_blocks_received": null,
                                     "duplicate_data_received_bytes": null, "messages_received": null},
                        "peers": {"ids": []}, "wantlist": {"cids": []},
                        "derived": {"traffic_total_bytes": null, "dup_data_ratio": null}},
            "health": {"state": "unknown", "score_0_100": null, "signals": [
                {"key": "connectivity", "level": "unknown", "message": ""},
                {"key": "routing", "level": "unknown", "message": ""},
                {"key": "exchange", "level": "unknown", "message": ""}]}
        })");
        QCOMPARE(snapshot, expected);
    }

    // A request that failed after an earlier answer: nothing of that answer is shown as current.
    void failedEndpointsShowNoNumbers()
    {
        State state;
        state.swarmPeers = { u"/ip4/1.2.3.4/tcp/4001"_s };
        state.swarmError = u"swarm down"_s;
        state.dhtStats = dhtWith(3, 2);
        state.dhtError = u"dht down"_s;
        state.bitswapStat = bitswapWith(2, 1);
        state.bitswapStat.insert(u"DataReceived"_s, 1000);
        state.bitswapError = u"bitswap down"_s;
        const QJsonObject snapshot = NetworkSnapshot::build(state, kNow);

        const QJsonObject expected = parse(R"({
            "swarm": {"summary": {"count": null, "inbound": null, "outbound": null,
                                  "latency_ms": {"min": null, "p50": null, "p95": null, "max": null}},
                      "peers": []},
            "dht": {"dhts": [], "summary": {"total_dhts": null, "total_buckets": null, "total_peers": null,
                                            "connected_peers": null}},
            "bitswap": {"summary": {"peer_count": null, "wantlist_size": null},
                        "counters": {"blocks_received": null, "blocks_sent": null, "data_received_bytes": null,
                                     "data_sent_bytes": null, "duplicate_blocks_received": null,
                                     "duplicate_data_received_bytes": null, "messages_received": null},
                        "peers": {"ids": []}, "wantlist": {"cids": []},
                        "derived": {"traffic_total_bytes": null, "dup_data_ratio": null}},
            "endpoint_status": {"swarm_peers": {"ok": false, "error": "swarm down"},
                                "dht_stats": {"ok": false, "error": "dht down"},
                                "bitswap_stat": {"ok": false, "error": "bitswap down"}}
        })");
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
            QCOMPARE(snapshot.value(it.key()), it.value());
        QVERIFY(snapshot[u"health"_s][u"score_0_100"_s].isNull());

        // One endpoint answering is enough for its numbers, even zeros.
        state.swarmOk = true;
        state.swarmPeers.clear();
        state.swarmError.clear();
        const QJsonObject swarm = NetworkSnapshot::build(state, kNow)[u"swarm"_s][u"summary"_s].toObject();
        QCOMPARE(swarm[u"count"_s], QJsonValue(0));
        QCOMPARE(swarm[u"inbound"_s], QJsonValue(0));
    }

    // Every key of a filled snapshot, as the saved file holds it.
    void fileFormatKeyByKey()
    {
        State state;
        state.swarmOk = true;
        state.swarmPeers = { u"/ip4/1.2.3.4/tcp/4001"_s, u"/ip4/5.6.7.8/INBOUND"_s, u"outbound/x"_s };
        state.dhtOk = true;
        state.dhtStats = QJsonArray { parse(R"({"Buckets": [
                {"LastRefresh": "t0", "Peers": [
                    {"ID": "p1", "Connected": true, "AgentVersion": "kubo/0.40", "LastQueriedAt": "q1", "LastUsefulAt": "u1"},
                    {"ID": 7, "Connected": "yes"}, "not an object"]},
                42,
                {"LastRefresh": 5, "Peers": null}]})"),
            u"skipped"_s, parse(R"({"Name": "", "Buckets": null})") };
        state.bitswapOk = true;
        state.bitswapStat = parse(R"({"BlocksReceived": "42", "BlocksSent": 12.9, "DataReceived": 1000,
            "DataSent": 500, "DupBlksReceived": true, "DupDataReceived": 250, "MessagesReceived": "x1",
            "Peers": ["a", 1], "Wantlist": [{"/": "c1"}, {"/": 5}, "plain"]})");
        state.swarmError = QString();

        const QJsonObject expected = parse(R"({
            "source": "network_snapshot", "timestamp": "2026-01-31T12:34:56Z", "window_seconds": 0,
            "endpoint_status": {"swarm_peers": {"ok": true, "error": ""},
                                "dht_stats": {"ok": true, "error": ""},
                                "bitswap_stat": {"ok": true, "error": ""}},
            "swarm": {"summary": {"count": 3, "inbound": 1, "outbound": 1,
                                  "latency_ms": {"min": null, "p50": null, "p95": null, "max": null}},
                      "peers": [
                {"peer_id": "", "addr": "/ip4/1.2.3.4/tcp/4001", "latency_ms": null, "direction": "unknown", "muxer": "", "streams": []},
                {"peer_id": "", "addr": "/ip4/5.6.7.8/INBOUND", "latency_ms": null, "direction": "inbound", "muxer": "", "streams": []},
                {"peer_id": "", "addr": "outbound/x", "latency_ms": null, "direction": "outbound", "muxer": "", "streams": []}]},
            "dht": {"dhts": [
                {"name": "wan", "bucket_count": 3, "peer_count": 3, "connected_peer_count": 1, "buckets": [
                    {"index": 0, "last_refresh": "t0", "peer_count": 3, "connected_peer_count": 1, "peers": [
                        {"peer_id": "p1", "connected": true, "agent_version": "kubo/0.40", "last_queried_at": "q1", "last_useful_at": "u1"},
                        {"peer_id": "", "connected": false, "agent_version": "", "last_queried_at": "", "last_useful_at": ""},
                        {"peer_id": "", "connected": false, "agent_version": "", "last_queried_at": "", "last_useful_at": ""}]},
                    {"index": 1, "last_refresh": "", "peer_count": 0, "connected_peer_count": 0, "peers": []},
                    {"index": 2, "last_refresh": "", "peer_count": 0, "connected_peer_count": 0, "peers": []}]},
                {"name": "", "bucket_count": 0, "peer_count": 0, "connected_peer_count": 0, "buckets": []}],
                "summary": {"total_dhts": 2, "total_buckets": 3, "total_peers": 3, "connected_peers": 1}},
            "bitswap": {"summary": {"peer_count": 2, "wantlist_size": 3},
                        "counters": {"blocks_received": 42, "blocks_sent": 12, "data_received_bytes": 1000,
                                     "data_sent_bytes": 500, "duplicate_blocks_received": 0,
                                     "duplicate_data_received_bytes": 250, "messages_received": 0},
                        "peers": {"ids": ["a", 1]}, "wantlist": {"cids": ["c1", ""]},
                        "derived": {"traffic_total_bytes": 1500, "dup_data_ratio": 0.25}},
            "health": {"state": "good", "score_0_100": 85, "signals": [
                {"key": "connectivity", "level": "good", "message": "Connected peers: 3"},
                {"key": "routing", "level": "good", "message": "Connected DHT peers: 1"},
                {"key": "exchange", "level": "good", "message": "Bitswap peers: 2, wantlist: 3"}]}
        })");
        const QJsonObject snapshot = NetworkSnapshot::build(state, kNow);
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
            QCOMPARE(snapshot.value(it.key()), it.value());
        QCOMPARE(snapshot.keys(), expected.keys());

        // The file is the writer's indented form, keys in code order.
        const QByteArray text = QJsonDocument(snapshot).toJson(QJsonDocument::Indented);
        QVERIFY(text.indexOf("\"bitswap\"") < text.indexOf("\"dht\""));
        QVERIFY(text.indexOf("\"dht\"") < text.indexOf("\"endpoint_status\""));
        QVERIFY(text.startsWith("{\n    \""));
    }

    void dhtNames_data()
    {
        QTest::addColumn<QByteArray>("dht");
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << QByteArray("{}") << u"wan"_s;
        QTest::newRow("not a string") << QByteArray(R"({"Name": 3})") << u"wan"_s;
        QTest::newRow("empty stays empty") << QByteArray(R"({"Name": ""})") << QString();
        QTest::newRow("kept") << QByteArray(R"({"Name": "lan"})") << u"lan"_s;
    }
    void dhtNames()
    {
        QFETCH(QByteArray, dht);
        QFETCH(QString, name);
        State state;
        state.dhtOk = true;
        state.dhtStats = parse(dht);
        const QJsonObject snapshot = NetworkSnapshot::build(state, kNow);
        QCOMPARE(snapshot[u"dht"_s][u"dhts"_s][0][u"name"_s].toString(), name);
    }

    void directionOfEntryWithBothWords()
    {
        State state;
        state.swarmOk = true;
        state.swarmPeers = { u"/outbound/inbound"_s };
        const QJsonObject snapshot = NetworkSnapshot::build(state, kNow);
        QCOMPARE(snapshot[u"swarm"_s][u"peers"_s][0][u"direction"_s].toString(), u"inbound"_s);
        QCOMPARE(snapshot[u"swarm"_s][u"summary"_s][u"outbound"_s].toInt(), 0);
    }

    void ratioWithoutReceivedData()
    {
        State state;
        state.bitswapOk = true;
        state.bitswapStat = parse(R"({"DataReceived": 0, "DupDataReceived": 250})");
        QCOMPARE(NetworkSnapshot::build(state, kNow)[u"bitswap"_s][u"derived"_s][u"dup_data_ratio"_s],
            QJsonValue(0.0));
    }

    void trafficTotalSaturates()
    {
        State state;
        state.bitswapOk = true;
        state.bitswapStat = parse(R"({"DataReceived": "9223372036854775807", "DataSent": 10})");
        const QJsonValue total
            = NetworkSnapshot::build(state, kNow)[u"bitswap"_s][u"derived"_s][u"traffic_total_bytes"_s];
        QCOMPARE(total.toInteger(), std::numeric_limits<qint64>::max());
    }

    void toInt64_data()
    {
        QTest::addColumn<QByteArray>("json"); // the value, inside an array
        QTest::addColumn<qint64>("expected");
        QTest::newRow("string 42") << QByteArray(R"(["42"])") << qint64(42);
        QTest::newRow("negative string") << QByteArray(R"(["-7"])") << qint64(-7);
        QTest::newRow("not a whole number") << QByteArray(R"(["4.5"])") << qint64(0);
        QTest::newRow("junk string") << QByteArray(R"(["12abc"])") << qint64(0);
        QTest::newRow("12.9 truncated") << QByteArray("[12.9]") << qint64(12);
        QTest::newRow("-12.9 toward zero") << QByteArray("[-12.9]") << qint64(-12);
        QTest::newRow("big exact integer") << QByteArray("[9007199254740993]") << qint64(9007199254740993LL);
        QTest::newRow("beyond range") << QByteArray("[1e30]") << std::numeric_limits<qint64>::max();
        QTest::newRow("below range") << QByteArray("[-1e30]") << std::numeric_limits<qint64>::min();
        QTest::newRow("true") << QByteArray("[true]") << qint64(0);
        QTest::newRow("null") << QByteArray("[null]") << qint64(0);
        QTest::newRow("array") << QByteArray("[[1]]") << qint64(0);
        QTest::newRow("object") << QByteArray(R"([{"a":1}])") << qint64(0);
    }
    void toInt64()
    {
        QFETCH(QByteArray, json);
        QFETCH(qint64, expected);
        QCOMPARE(NetworkSnapshot::toInt64(QJsonDocument::fromJson(json).array().at(0)), expected);
        QCOMPARE(NetworkSnapshot::toInt64(QJsonValue(QJsonValue::Undefined)), qint64(0));
    }

    // Endpoint states -> health. -1 peers means the endpoint failed.
    void health_data()
    {
        QTest::addColumn<int>("swarmPeers");
        QTest::addColumn<int>("dhtConnected");
        QTest::addColumn<int>("bitswapPeers");
        QTest::addColumn<int>("wantlist");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("score"); // -1: no score
        QTest::addColumn<QStringList>("levels");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("all failed") << -1 << -1 << -1 << 0 << u"unknown"_s << -1
                                    << QStringList { u"unknown"_s, u"unknown"_s, u"unknown"_s }
                                    << QStringList { u"swarm down"_s, u"dht down"_s, u"bitswap down"_s };
        QTest::newRow("healthy, wantlist 100")
            << 3 << 1 << 2 << 100 << u"good"_s << 85 << QStringList { u"good"_s, u"good"_s, u"good"_s }
            << QStringList { u"Connected peers: 3"_s, u"Connected DHT peers: 1"_s,
                   u"Bitswap peers: 2, wantlist: 100"_s };
        QTest::newRow("wantlist 101")
            << 3 << 1 << 2 << 101 << u"degraded"_s << 60 << QStringList { u"good"_s, u"good"_s, u"good"_s }
            << QStringList { u"Connected peers: 3"_s, u"Connected DHT peers: 1"_s,
                   u"Bitswap peers: 2, wantlist: 101"_s };
        QTest::newRow("routing never lifts to good")
            << 3 << 5 << 0 << 0 << u"degraded"_s << 60 << QStringList { u"good"_s, u"good"_s, u"degraded"_s }
            << QStringList { u"Connected peers: 3"_s, u"Connected DHT peers: 5"_s,
                   u"Bitswap peers: 0, wantlist: 0"_s };
        QTest::newRow("bitswap failed, dht ok")
            << 3 << 1 << -1 << 0 << u"degraded"_s << 60 << QStringList { u"good"_s, u"good"_s, u"degraded"_s }
            << QStringList { u"Connected peers: 3"_s, u"Connected DHT peers: 1"_s, u"bitswap down"_s };
        QTest::newRow("bitswap and dht failed")
            << 3 << -1 << -1 << 0 << u"poor"_s << 30
            << QStringList { u"good"_s, u"degraded"_s, u"degraded"_s }
            << QStringList { u"Connected peers: 3"_s, u"dht down"_s, u"bitswap down"_s };
        QTest::newRow("dht without connected peers")
            << 3 << 0 << 0 << 0 << u"poor"_s << 30 << QStringList { u"good"_s, u"degraded"_s, u"degraded"_s }
            << QStringList { u"Connected peers: 3"_s, u"Connected DHT peers: 0"_s,
                   u"Bitswap peers: 0, wantlist: 0"_s };
        QTest::newRow("swarm failed")
            << -1 << 1 << 2 << 0 << u"poor"_s << 30 << QStringList { u"poor"_s, u"good"_s, u"good"_s }
            << QStringList { u"swarm down"_s, u"Connected DHT peers: 1"_s,
                   u"Bitswap peers: 2, wantlist: 0"_s };
        QTest::newRow("swarm ok but empty")
            << 0 << 1 << 2 << 0 << u"poor"_s << 30 << QStringList { u"poor"_s, u"good"_s, u"good"_s }
            << QStringList { u"Connected peers: 0"_s, u"Connected DHT peers: 1"_s,
                   u"Bitswap peers: 2, wantlist: 0"_s };
        QTest::newRow("only dht answered")
            << -1 << 0 << -1 << 0 << u"poor"_s << 30
            << QStringList { u"poor"_s, u"degraded"_s, u"degraded"_s }
            << QStringList { u"swarm down"_s, u"Connected DHT peers: 0"_s, u"bitswap down"_s };
    }
    void health()
    {
        QFETCH(int, swarmPeers);
        QFETCH(int, dhtConnected);
        QFETCH(int, bitswapPeers);
        QFETCH(int, wantlist);
        QFETCH(QString, state);
        QFETCH(int, score);
        QFETCH(QStringList, levels);
        QFETCH(QStringList, messages);

        State input;
        input.swarmOk = swarmPeers >= 0;
        input.swarmError = input.swarmOk ? QString() : u"swarm down"_s;
        for (int i = 0; i < swarmPeers; ++i)
            input.swarmPeers.append(u"/ip4/10.0.0.%1"_s.arg(i));
        input.dhtOk = dhtConnected >= 0;
        input.dhtError = input.dhtOk ? QString() : u"dht down"_s;
        if (input.dhtOk)
            input.dhtStats = dhtWith(qMax(dhtConnected, 2), dhtConnected);
        input.bitswapOk = bitswapPeers >= 0;
        input.bitswapError = input.bitswapOk ? QString() : u"bitswap down"_s;
        if (input.bitswapOk)
            input.bitswapStat = bitswapWith(bitswapPeers, wantlist);

        const QJsonObject health = NetworkSnapshot::build(input, kNow).value("health"_L1).toObject();
        QCOMPARE(health[u"state"_s].toString(), state);
        QCOMPARE(health[u"score_0_100"_s], score < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(score));
        const QJsonArray signalList = health[u"signals"_s].toArray();
        QCOMPARE(signalList.size(), 3);
        const QStringList keys { u"connectivity"_s, u"routing"_s, u"exchange"_s };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(signalList[i][u"key"_s].toString(), keys[i]);
            QCOMPARE(signalList[i][u"level"_s].toString(), levels[i]);
            QCOMPARE(signalList[i][u"message"_s].toString(), messages[i]);
        }
    }
};

QTEST_GUILESS_MAIN(TestNetworkSnapshot)
#include "tst_networksnapshot.moc"
