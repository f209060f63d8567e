#include <QtTest>

#include "dhtparser.h"
#include "swarmparsers.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

QJsonObject object(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad fixture: %s", json.constData());
    return document.object();
}

QByteArray compact(const QJsonValue& value)
{
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QString wholeBodyError(const QByteArray& body)
{
    QJsonParseError error;
    QJsonDocument::fromJson(body.trimmed(), &error);
    return error.errorString();
}

} // namespace

class TestNetworkParsers : public QObject
{
    Q_OBJECT

private slots:
    void firstNonEmptyString_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first key wins") << QByteArray(R"({"a":"x","b":"y"})") << u"x"_s;
        QTest::newRow("blank skipped, trimmed") << QByteArray(R"({"a":"  ","b":" y "})") << u"y"_s;
        QTest::newRow("non-string skipped") << QByteArray(R"({"a":5,"b":"y"})") << u"y"_s;
        QTest::newRow("nothing") << QByteArray(R"({"a":null,"c":"z"})") << QString();
    }
    void firstNonEmptyString()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(::firstNonEmptyString(object(json), { u"a"_s, u"b"_s }), expected);
    }

    void swarmPeers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ids only") << QByteArray(R"({"Peers":[{"Peer":"p1"},{"Peer":"p2"}]})")
                                  << QStringList { u"p1"_s, u"p2"_s };
        // A node sends the transport address and the id apart; a disconnect needs both together.
        QTest::newRow("address with its id")
            << QByteArray(R"({"Peers":[{"Addr":"/ip4/1.2.3.4/tcp/1","Peer":"p1"}]})")
            << QStringList { u"/ip4/1.2.3.4/tcp/1/p2p/p1"_s };
        QTest::newRow("address already ending with its id")
            << QByteArray(R"({"Peers":[{"Addr":"/ip4/1.2.3.4/tcp/1/p2p/p1","Peer":"p1"},)"
                          R"({"Addr":"/ip4/1.2.3.4/tcp/2/ipfs/p2","Peer":"p2"}]})")
            << QStringList { u"/ip4/1.2.3.4/tcp/1/p2p/p1"_s, u"/ip4/1.2.3.4/tcp/2/ipfs/p2"_s };
        QTest::newRow("relayed address gets the peer's id")
            << QByteArray(R"({"Peers":[{"Addr":"/ip4/1.2.3.4/tcp/1/p2p/relay/p2p-circuit","Peer":"p1"}]})")
            << QStringList { u"/ip4/1.2.3.4/tcp/1/p2p/relay/p2p-circuit/p2p/p1"_s };
        QTest::newRow("address without id") << QByteArray(R"({"Peers":[{"Addr":"/ip4/1.2.3.4/tcp/1"}]})")
                                            << QStringList { u"/ip4/1.2.3.4/tcp/1"_s };
        QTest::newRow("empty Addr, Address used")
            << QByteArray(R"({"Peers":[{"Addr":"","Address":" /ip4/5.6.7.8 ","Peer":" p "}]})")
            << QStringList { u"/ip4/5.6.7.8/p2p/p"_s };
        QTest::newRow("lower-case keys") << QByteArray(R"({"Peers":[{"addr":"a"},{"id":"i"},{"peer":"q"}]})")
                                         << QStringList { u"a"_s, u"i"_s, u"q"_s };
        QTest::newRow("neither dropped")
            << QByteArray(R"({"Peers":[{"Latency":"1ms"},{"Peer":"p"}]})") << QStringList { u"p"_s };
        QTest::newRow("wrong-typed members")
            << QByteArray(R"({"Peers":[{"Addr":7,"ID":["x"],"Id":"good"}]})") << QStringList { u"good"_s };
        QTest::newRow("plain elements")
            << QByteArray(R"({"Peers":[" s ",5,null,"",[1],"t"]})") << QStringList { u"s"_s, u"t"_s };
        QTest::newRow("Peers null, Strings used")
            << QByteArray(R"({"Peers":null,"Strings":["/ip4/9.9.9.9"]})")
            << QStringList { u"/ip4/9.9.9.9"_s };
        QTest::newRow("Peers a string, Strings used")
            << QByteArray(R"({"Peers":"oops","Strings":["a"]})") << QStringList { u"a"_s };
        QTest::newRow("empty Peers array wins")
            << QByteArray(R"({"Peers":[],"Strings":["a"]})") << QStringList();
        QTest::newRow("Strings an object") << QByteArray(R"({"Strings":{"a":"b"}})") << QStringList();
        QTest::newRow("nothing at all") << QByteArray("{}") << QStringList();
    }
    void swarmPeers()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, expected);
        QCOMPARE(parseSwarmPeers(object(json)), expected);
    }

    void swarmAddrs_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("expected"); // the table as a JSON object
        QTest::newRow("empty list kept") << QByteArray(R"({"Addrs":{"p1":[],"p2":["/a"," /b ",""]}})")
                                         << QByteArray(R"({"p1":[],"p2":["/a","/b"]})");
        QTest::newRow("string value left out")
            << QByteArray(R"({"Addrs":{"p1":"/a","p2":null,"p3":["/c"]}})") << QByteArray(R"({"p3":["/c"]})");
        QTest::newRow("keys trimmed, blank key skipped")
            << QByteArray(R"({"Addrs":{" p1 ":["/a"],"  ":["/x"]}})") << QByteArray(R"({"p1":["/a"]})");
        // Members are read in key order; " p" sorts before "p", so "p" is the later one.
        QTest::newRow("later trimmed key replaces")
            << QByteArray(R"({"Addrs":{" p":["/old"],"p":["/new"]}})") << QByteArray(R"({"p":["/new"]})");
        QTest::newRow("non-string addresses dropped")
            << QByteArray(R"({"Addrs":{"p":[1,{"a":1},"/ok"]}})") << QByteArray(R"({"p":["/ok"]})");
        QTest::newRow("Addrs an array") << QByteArray(R"({"Addrs":[["p","/a"]]})") << QByteArray("{}");
        QTest::newRow("Addrs missing") << QByteArray("{}") << QByteArray("{}");
    }
    void swarmAddrs()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, expected);
        const QHash<QString, QStringList> table = parseSwarmAddrs(object(json));
        QJsonObject actual;
        for (auto it = table.constBegin(); it != table.constEnd(); ++it)
            actual.insert(it.key(), QJsonArray::fromStringList(it.value()));
        QCOMPARE(compact(actual), compact(object(expected)));
    }

    void bootstrapPeers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Peers") << QByteArray(R"({"Peers":[" /a ","","/b","/a"]})")
                               << QStringList { u"/a"_s, u"/b"_s, u"/a"_s };
        QTest::newRow("Peers a string, BootstrapPeers used")
            << QByteArray(R"({"Peers":"/x","BootstrapPeers":["/c"]})") << QStringList { u"/c"_s };
        QTest::newRow("empty Peers array wins")
            << QByteArray(R"({"Peers":[],"BootstrapPeers":["/c"]})") << QStringList();
        QTest::newRow("non-strings dropped")
            << QByteArray(R"({"Peers":[1,null,{"a":"b"},"/d"]})") << QStringList { u"/d"_s };
        QTest::newRow("neither") << QByteArray(R"({"BootstrapPeers":null})") << QStringList();
    }
    void bootstrapPeers()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, expected);
        QCOMPARE(parseBootstrapPeers(object(json)), expected);
    }

    void dhtBody_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected"); // compact JSON, or the error text

        const QByteArray a = R"({"Name":"wan","Buckets":[]})";
        const QByteArray b = R"({"Name":"lan","Buckets":null})";
        QTest::newRow("object and newline") << a + "\n" << true << a;
        QTest::newRow("two lines") << a + "\n" + b + "\n" << true << "[" + a + "," + b + "]";
        QTest::newRow("CRLF lines") << a + "\r\n" + b + "\r\n" << true << "[" + a + "," + b + "]";
        QTest::newRow("object line and garbage") << a + "\n{garbage\n" << true << a;
        QTest::newRow("array lines skipped") << QByteArray("[1]\n") + a + "\n[2]" << true << a;
        QTest::newRow("whole array kept as is")
            << QByteArray(R"( [1,"x",{"Name":"w"}] )") << true << QByteArray(R"([1,"x",{"Name":"w"}])");
        QTest::newRow("blank lines between") << a + "\n\n   \n" + b << true << "[" + a + "," + b + "]";
        QTest::newRow("huge garbage line") << QByteArray(4 << 20, 'x') + "\n" + a << true << a;

        const QByteArray empty;
        QTest::newRow("empty") << empty << false
                               << u"Invalid DHT stats JSON: %1"_s.arg(wholeBodyError(empty)).toUtf8();
        const QByteArray garbage = "not json\nstill not\n";
        QTest::newRow("garbage") << garbage << false
                                 << u"Invalid DHT stats JSON: %1"_s.arg(wholeBodyError(garbage)).toUtf8();
        const QByteArray onlyArrays = "[1]\n[2]\n";
        QTest::newRow("only array lines")
            << onlyArrays << false
            << u"Invalid DHT stats JSON: %1"_s.arg(wholeBodyError(onlyArrays)).toUtf8();
        const QByteArray scalar = "42";
        QTest::newRow("scalar") << scalar << false
                                << u"Invalid DHT stats JSON: %1"_s.arg(wholeBodyError(scalar)).toUtf8();
    }
    void dhtBody()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QByteArray, expected);
        const DhtStatsBody parsed = parseDhtStatsBody(body);
        QCOMPARE(parsed.ok, ok);
        if (ok) {
            QVERIFY(parsed.error.isEmpty());
            QCOMPARE(compact(parsed.data),
                compact(QJsonDocument::fromJson(expected).isArray()
                        ? QJsonValue(QJsonDocument::fromJson(expected).array())
                        : QJsonValue(QJsonDocument::fromJson(expected).object())));
            QCOMPARE(parsed.data.isArray(), expected.startsWith('['));
        } else {
            QCOMPARE(parsed.error, QString::fromUtf8(expected));
            QVERIFY(parsed.data.isUndefined() || parsed.data.isNull());
        }
    }

    // Cut and flipped bytes of real answers must never crash a reader.
    void mangledBodiesAreReadSafely()
    {
        const QByteArray base
            = R"({"Peers":[{"Addr":"/ip4/1.2.3.4","Peer":"p"}],"Addrs":{"p":["/a"]},)"
              R"("Strings":["s"],"BootstrapPeers":["/b"],"Name":"wan","Buckets":[{"Peers":[{}]}]})"
              "\n{\"Name\":\"lan\"}";
        for (int cut = 0; cut <= base.size(); ++cut) {
            QByteArray body = base.left(cut);
            if (cut < base.size())
                body += char(base.at(cut) ^ 0x5a);
            const DhtStatsBody parsed = parseDhtStatsBody(body);
            QCOMPARE(parsed.ok, parsed.error.isEmpty());
            const QJsonObject json = QJsonDocument::fromJson(body).object();
            parseSwarmPeers(json);
            parseSwarmAddrs(json);
            parseBootstrapPeers(json);
        }
    }
};

QTEST_GUILESS_MAIN(TestNetworkParsers)
#include "tst_networkparsers.moc"
