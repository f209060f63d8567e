#include <QtTest>

#include "fakekubonode.h"
#include "ipfsclient.h"
#include "networkfixtures.h"
#include "testsettings.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

// The swarm, bootstrap, DHT and bitswap operations against a node on the loopback.
class TestNetworkClient : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    QStringList events; // signal names in emission order

    void record()
    {
        events.clear();
        connect(client, &IpfsClient::errorOccurred, this,
            [this](const QString& m) { events << u"error:"_s + m; });
        connect(client, &IpfsClient::dhtStatsFailed, this,
            [this](const QString& m) { events << u"dhtFailed:"_s + m; });
        connect(client, &IpfsClient::bitswapStatFailed, this,
            [this](const QString& m) { events << u"bitswapFailed:"_s + m; });
        connect(client, &IpfsClient::swarmRequestFailed, this,
            [this](const QString& op, const QString& m) { events << u"swarmFailed:%1:%2"_s.arg(op, m); });
        connect(client, &IpfsClient::bootstrapRequestFailed, this,
            [this](const QString& op, const QString& m) { events << u"bootstrapFailed:%1:%2"_s.arg(op, m); });
        connect(client, &IpfsClient::swarmConnectResult, this,
            [this](const QString& t, bool ok, const QStringList& m) {
                events << u"connectResult:%1:%2:%3"_s.arg(t, ok ? u"ok"_s : u"failed"_s, m.join(u'|'));
            });
        connect(client, &IpfsClient::bootstrapRemoveResult, this,
            [this](const QStringList& removed, bool ok, const QStringList& peers) {
                events << u"removeResult:%1:%2:%3"_s.arg(
                    removed.join(u'|'), ok ? u"ok"_s : u"failed"_s, peers.join(u'|'));
            });
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        record();
    }

    void cleanup()
    {
        delete client;
        delete node;
    }

    void dhtQuery_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("rawQuery");
        QTest::newRow("both tables") << QString() << QString();
        QTest::newRow("wan") << u"wan"_s << u"arg=wan"_s;
        QTest::newRow("blanks sent unchanged") << u"  "_s << u"arg=%20%20"_s;
    }
    void dhtQuery()
    {
        QFETCH(QString, arg);
        QFETCH(QString, rawQuery);
        node->route(u"/stats/dht"_s, FakeKuboNode::json("{}"));
        QSignalSpy received(client, &IpfsClient::dhtStatsReceived);
        client->fetchDhtStats(arg);
        QVERIFY(received.wait());
        QCOMPARE(node->requests(u"/stats/dht"_s).first().rawQuery, rawQuery);
    }

    void dhtLinesBecomeOneArray()
    {
        node->route(u"/stats/dht"_s,
            FakeKuboNode::streamed({ R"({"Name":"wan"})"
                                     "\n",
                                       R"({"Name":"lan"})"
                                       "\n" },
                5));
        QSignalSpy received(client, &IpfsClient::dhtStatsReceived);
        client->fetchDhtStats(QString());
        QVERIFY(received.wait());
        const QJsonArray dhts = received.first().first().toJsonValue().toArray();
        QCOMPARE(dhts.size(), 2);
        QCOMPARE(dhts.at(0)[u"Name"_s].toString(), u"wan"_s);
        QCOMPARE(dhts.at(1)[u"Name"_s].toString(), u"lan"_s);
    }

    void dhtHttpErrorGivesTheNodesMessage()
    {
        node->route(u"/stats/dht"_s, FakeKuboNode::kuboError(u"routing not enabled"_s));
        QSignalSpy failed(client, &IpfsClient::dhtStatsFailed);
        client->fetchDhtStats(QString());
        QVERIFY(failed.wait());
        const QString text = failed.first().first().toString();
        QVERIFY2(text.startsWith("Failed to get DHT stats: "_L1), qPrintable(text));
        QCOMPARE(text, "Failed to get DHT stats: routing not enabled"_L1);
        QCOMPARE(events, (QStringList { u"error:"_s + text, u"dhtFailed:"_s + text }));
    }

    void dhtGarbageFails()
    {
        node->route(u"/stats/dht"_s, FakeKuboNode::text("nope"));
        QSignalSpy failed(client, &IpfsClient::dhtStatsFailed);
        client->fetchDhtStats(QString());
        QVERIFY(failed.wait());
        QVERIFY(failed.first().first().toString().startsWith("Invalid DHT stats JSON: "_L1));
        QCOMPARE(events.size(), 2);
    }

    void bitswapQueryAndMessage()
    {
        node->route(u"/bitswap/stat"_s, FakeKuboNode::json(R"({"Message":"  boom  "})"));
        QSignalSpy failed(client, &IpfsClient::bitswapStatFailed);
        client->fetchBitswapStat(false, false);
        QVERIFY(failed.wait());
        const auto request = node->requests(u"/bitswap/stat"_s).first();
        QCOMPARE(request.queryKeys(), (QStringList { u"verbose"_s, u"human"_s }));
        QCOMPARE(request.queryValue(u"verbose"_s), u"false"_s);
        QCOMPARE(request.queryValue(u"human"_s), u"false"_s);
        QCOMPARE(events,
            (QStringList { u"error:Failed to get bitswap stats: boom"_s,
                u"bitswapFailed:Failed to get bitswap stats: boom"_s }));
    }

    void bitswapObjectPassedOn()
    {
        node->route(u"/bitswap/stat"_s,
            FakeKuboNode::json(NetworkFixtures::toJson(NetworkFixtures::bitswapReply(2, 1))));
        QSignalSpy received(client, &IpfsClient::bitswapStatReceived);
        client->fetchBitswapStat(true, true);
        QVERIFY(received.wait());
        QCOMPARE(received.first().first().toJsonObject()[u"Peers"_s].toArray().size(), 2);
        QCOMPARE(node->requests(u"/bitswap/stat"_s).first().rawQuery, u"verbose=true&human=true"_s);
    }

    void validationFailsAtOnceAndSendsNothing()
    {
        client->swarmConnect(u"   "_s);
        client->swarmDisconnect(QString());
        client->bootstrapAddPeer(u" "_s);
        client->bootstrapRemovePeers({ u" "_s, QString() });
        QCOMPARE(events,
            (QStringList { u"swarmFailed:connect:Peer multiaddr is required."_s,
                u"swarmFailed:disconnect:Peer multiaddr is required."_s,
                u"bootstrapFailed:bootstrap-add:Bootstrap peer address is required."_s,
                u"bootstrapFailed:bootstrap-rm:At least one bootstrap peer is required."_s }));
        QTest::qWait(50);
        QCOMPARE(node->requests().size(), 0);
    }

    void removePeersSendsTrimmedArgsInOrder()
    {
        node->route(u"/bootstrap/rm"_s, FakeKuboNode::json(R"({"Peers":["/a","/b"]})"));
        QSignalSpy result(client, &IpfsClient::bootstrapRemoveResult);
        client->bootstrapRemovePeers({ u"  /a  "_s, QString(), u"/b"_s });
        QVERIFY(result.wait());
        QCOMPARE(node->requests(u"/bootstrap/rm"_s).first().queryValues(u"arg"_s),
            (QStringList { u"/a"_s, u"/b"_s }));
        QCOMPARE(events, (QStringList { u"removeResult:/a|/b:ok:/a|/b"_s }));
    }

    // Addresses reach the node exactly as typed, whatever characters they hold.
    void addressesReachTheNodeAsTyped_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("percent escape") << u"/dns4/a%41b/tcp/1"_s;
        QTest::newRow("lone percent") << u"/dns4/a%zz/tcp/1"_s;
        QTest::newRow("query delimiters") << u"/dns4/a&arg=b#c+d/tcp/1"_s;
    }
    void addressesReachTheNodeAsTyped()
    {
        QFETCH(QString, address);
        node->route(u"/swarm/connect"_s, FakeKuboNode::json("{}"));
        node->route(u"/bootstrap/add"_s, FakeKuboNode::json(R"({"Peers":[]})"));
        node->route(u"/bootstrap/rm"_s, FakeKuboNode::json(R"({"Peers":[]})"));
        client->swarmConnect(address);
        client->bootstrapAddPeer(address);
        client->bootstrapRemovePeers({ address, u"/b"_s });
        QTRY_COMPARE(node->requests().size(), 3);
        QCOMPARE(node->requests(u"/swarm/connect"_s).first().queryValues(u"arg"_s), QStringList { address });
        QCOMPARE(node->requests(u"/bootstrap/add"_s).first().queryValues(u"arg"_s), QStringList { address });
        QCOMPARE(node->requests(u"/bootstrap/rm"_s).first().queryValues(u"arg"_s),
            (QStringList { address, u"/b"_s }));
    }

    void failedConnectReportsThenResults()
    {
        node->route(u"/swarm/connect"_s, FakeKuboNode::kuboError(u"dial backoff"_s));
        QSignalSpy result(client, &IpfsClient::swarmConnectResult);
        client->swarmConnect(u" /ip4/1.2.3.4/tcp/4001 "_s);
        QVERIFY(result.wait());
        QCOMPARE(
            node->requests(u"/swarm/connect"_s).first().queryValue(u"arg"_s), u"/ip4/1.2.3.4/tcp/4001"_s);
        QCOMPARE(events.size(), 2);
        QVERIFY2(
            events.at(0).startsWith("swarmFailed:connect:Failed to connect to /ip4/1.2.3.4/tcp/4001: dial backoff"_L1),
            qPrintable(events.at(0)));
        QVERIFY(events.at(0).contains("dial backoff"_L1)); // the node's error body, quoted whole
        QCOMPARE(events.at(1), u"connectResult:/ip4/1.2.3.4/tcp/4001:failed:"_s);
    }

    void removeAllFailureAndSuccess()
    {
        node->route(u"/bootstrap/rm/all"_s, FakeKuboNode::json("[]"));
        QSignalSpy result(client, &IpfsClient::bootstrapRemoveResult);
        client->bootstrapRemoveAllPeers();
        QVERIFY(result.wait());
        QCOMPARE(events,
            (QStringList { u"bootstrapFailed:bootstrap-rm-all:Failed to remove all bootstrap peers: "
                           u"invalid JSON response"_s,
                u"removeResult::failed:"_s }));
    }

    // Each fetch: path, query and what its reader makes of a typical answer.
    void fetches_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("rawQuery");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("expected");
        QTest::newRow("peers") << u"peers"_s << u"/swarm/peers"_s << QString()
                               << QByteArray(R"({"Peers":[{"Addr":"/a","Peer":"p"},{"Peer":"q"}]})")
                               << u"/a/p2p/p|q"_s;
        QTest::newRow("addrs") << u"addrs"_s << u"/swarm/addrs"_s << QString()
                               << QByteArray(R"({"Addrs":{"p2":["/x"],"p1":[]}})") << u"p1=|p2=/x"_s;
        QTest::newRow("listen") << u"listen"_s << u"/swarm/addrs/listen"_s << QString()
                                << QByteArray(R"({"Strings":[" /l ",""]})") << u"/l"_s;
        QTest::newRow("bootstrap") << u"bootstrap"_s << u"/bootstrap/list"_s << QString()
                                   << QByteArray(R"({"Peers":["/b"]})") << u"/b"_s;
        QTest::newRow("bootstrap expanded")
            << u"bootstrap-expand"_s << u"/bootstrap/list"_s << u"expand-auto=true"_s
            << QByteArray(R"({"Peers":["/b"]})") << u"/b"_s;
        QTest::newRow("disconnect") << u"disconnect"_s << u"/swarm/disconnect"_s << u"arg=/t"_s
                                    << QByteArray(R"({"Strings":["disconnect /t success"]})")
                                    << u"/t:disconnect /t success"_s;
        QTest::newRow("add") << u"add"_s << u"/bootstrap/add"_s << u"arg=/n"_s
                             << QByteArray(R"({"Peers":["/n"]})") << u"/n:/n"_s;
    }
    void fetches()
    {
        QFETCH(QString, operation);
        QFETCH(QString, command);
        QFETCH(QString, rawQuery);
        QFETCH(QByteArray, reply);
        QFETCH(QString, expected);
        node->route(command, FakeKuboNode::json(reply));
        QString got;
        bool done = false;
        const auto take = [&](const QString& text) {
            got = text;
            done = true;
        };
        connect(
            client, &IpfsClient::swarmPeersReceived, this, [&](const QStringList& l) { take(l.join(u'|')); });
        connect(client, &IpfsClient::swarmListenAddrsReceived, this,
            [&](const QStringList& l) { take(l.join(u'|')); });
        connect(client, &IpfsClient::bootstrapPeersReceived, this,
            [&](const QStringList& l) { take(l.join(u'|')); });
        connect(client, &IpfsClient::swarmAddrsReceived, this, [&](const QHash<QString, QStringList>& table) {
            QStringList rows;
            for (auto it = table.constBegin(); it != table.constEnd(); ++it)
                rows << it.key() + u'=' + it.value().join(u',');
            rows.sort();
            take(rows.join(u'|'));
        });
        connect(client, &IpfsClient::swarmDisconnectResult, this,
            [&](const QString& t, bool, const QStringList& m) { take(t + u':' + m.join(u'|')); });
        connect(client, &IpfsClient::bootstrapAddResult, this,
            [&](const QString& p, bool, const QStringList& l) { take(p + u':' + l.join(u'|')); });

        if (operation == "peers"_L1)
            client->fetchSwarmPeers();
        else if (operation == "addrs"_L1)
            client->fetchSwarmAddrs();
        else if (operation == "listen"_L1)
            client->fetchSwarmListenAddrs();
        else if (operation == "bootstrap"_L1)
            client->fetchBootstrapPeers(false);
        else if (operation == "bootstrap-expand"_L1)
            client->fetchBootstrapPeers(true);
        else if (operation == "disconnect"_L1)
            client->swarmDisconnect(u"/t"_s);
        else if (operation == "add"_L1)
            client->bootstrapAddPeer(u" /n"_s);
        QTRY_VERIFY(done);
        QCOMPARE(got, expected);
        QCOMPARE(node->requests(command).first().rawQuery, rawQuery);
        QVERIFY(events.isEmpty()); // no failure, and never errorOccurred
    }

    void swarmFailuresNeverReachErrorOccurred()
    {
        node->route(u"/swarm/peers"_s, FakeKuboNode::kuboError(u"offline"_s));
        node->route(u"/bootstrap/list"_s, FakeKuboNode::json(R"({"Message":"nope"})"));
        QSignalSpy swarmFailed(client, &IpfsClient::swarmRequestFailed);
        QSignalSpy bootstrapFailed(client, &IpfsClient::bootstrapRequestFailed);
        client->fetchSwarmPeers();
        client->fetchBootstrapPeers(false);
        QTRY_COMPARE(swarmFailed.size() + bootstrapFailed.size(), 2);
        QCOMPARE(swarmFailed.first().first().toString(), u"peers"_s);
        QCOMPARE(bootstrapFailed.first().at(1).toString(), u"Failed to fetch bootstrap peers: nope"_s);
        for (const QString& event : std::as_const(events))
            QVERIFY2(!event.startsWith("error:"_L1), qPrintable(event));
    }
};

QTEST_GUILESS_MAIN(TestNetworkClient)
#include "tst_networkclient.moc"
