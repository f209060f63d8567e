#include <QtTest>

#include "fakekubonode.h"
#include "ipfsclient.h"

using namespace Qt::StringLiterals;

// Repository statistics and garbage collection against the fake node.
class TestRepoClient : public QObject
{
    Q_OBJECT

    // Every outcome signal in arrival order, so that "errorOccurred first" is checked too.
    void watch(IpfsClient& client)
    {
        events.clear();
        connect(&client, &IpfsClient::errorOccurred, this,
            [this](const QString& m) { events << u"error: "_s + m; });
        connect(&client, &IpfsClient::repoStatReceived, this, [this](const QJsonObject& stat) {
            events << u"stat: "_s + QString::fromUtf8(QJsonDocument(stat).toJson(QJsonDocument::Compact));
        });
        connect(&client, &IpfsClient::repoStatFailed, this,
            [this](const QString& m) { events << u"statFailed: "_s + m; });
        connect(&client, &IpfsClient::repoGcCompleted, this,
            [this](const QStringList& cids, const QStringList& errors) {
                events << u"gc: "_s + cids.join(u',') + u" | "_s + errors.join(u',');
            });
        connect(&client, &IpfsClient::repoGcFailed, this,
            [this](const QString& m) { events << u"gcFailed: "_s + m; });
    }

    QStringList events;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void repoStatSendsNoQueryAndPassesTheObjectOn()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(
            u"/repo/stat"_s, FakeKuboNode::json(R"({"RepoSize":1536,"StorageMax":"10GB","Extra":[1]})"));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        watch(client);

        client.fetchRepoStat();
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events.first(), uR"(stat: {"Extra":[1],"RepoSize":1536,"StorageMax":"10GB"})"_s);
        const auto request = node.requests(u"/repo/stat"_s).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QVERIFY(request.query.isEmpty());
    }

    void repoStatFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");

        const QByteArray errorBody = R"({"Message":"repo locked","Code":0,"Type":"error"})";
        QTest::newRow("http error gives the node's message")
            << 500 << errorBody << u"Failed to get repo stat: repo locked"_s;
        QTest::newRow("array body") << 200 << QByteArray("[]")
                                    << u"Failed to get repo stat: invalid JSON response"_s;
        QTest::newRow("not json") << 200 << QByteArray("oops")
                                  << u"Failed to get repo stat: invalid JSON response"_s;
        QTest::newRow("message in a success body")
            << 200 << QByteArray(R"({"Message":" busy "})") << u"Failed to get repo stat: busy"_s;
    }

    void repoStatFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(u"/repo/stat"_s, FakeKuboNode::json(body, status));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        watch(client);

        client.fetchRepoStat();
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events, (QStringList { u"error: "_s + message, u"statFailed: "_s + message }));
    }

    void gcReadsTheStreamInLineOrder()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        // Pieces cut across lines, as a streaming node delivers them.
        node.route(u"/repo/gc"_s,
            FakeKuboNode::streamed({ R"({"Key":{"/":"bafyA"}})"
                                     "\n"
                                     R"({"Err)",
                                       R"(or":"could not remove bafyX"})"
                                       "\n",
                                       R"({"Key":{"/":"bafyB"}})"
                                       "\n" },
                20));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        watch(client);

        client.runRepoGc();
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events.first(), u"gc: bafyA,bafyB | could not remove bafyX"_s);
        const auto request = node.requests(u"/repo/gc"_s).first();
        QCOMPARE(request.query, (QList<QPair<QString, QString>> { { u"stream-errors"_s, u"true"_s } }));
    }

    void gcMayStaySilentLongerThanTheTransferLimit()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(u"/repo/gc"_s, FakeKuboNode::held());
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        client.setTransferTimeout(100);
        watch(client);

        // Marking a large repository takes long before the first line.
        client.runRepoGc();
        QTRY_COMPARE(node.heldCount(u"/repo/gc"_s), 1);
        QTest::qWait(400);
        QVERIFY(events.isEmpty());
        node.releaseHeld(u"/repo/gc"_s, FakeKuboNode::json(R"({"Key":{"/":"bafyA"}})"));
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events.first(), u"gc: bafyA | "_s);
    }

    void gcWithNothingCollectedIsASuccess()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(u"/repo/gc"_s, FakeKuboNode::text("not json at all"));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        watch(client);

        client.runRepoGc();
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events.first(), u"gc:  | "_s);
    }

    void gcHttpFailureGivesTheNodesMessage()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(u"/repo/gc"_s, FakeKuboNode::kuboError(u"gc already running"_s));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        watch(client);

        client.runRepoGc();
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events.at(0), u"error: Failed to run repo GC: gc already running"_s);
        QCOMPARE(events.at(1), u"gcFailed: "_s + events.at(0).mid(7));
    }
};

QTEST_GUILESS_MAIN(TestRepoClient)
#include "tst_repoclient.moc"
