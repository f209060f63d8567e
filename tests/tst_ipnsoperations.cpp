#include <QtTest>

#include <QJsonDocument>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "ipnsparsers.h"

namespace {

QJsonObject object(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

using Query = QList<QPair<QString, QString>>;

} // namespace

// Listing keys, publishing and resolving names: the requests they send, how they read the
// answers and how they fail.
class TestIpnsOperations : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    QStringList events; // "error: …", "keysFailed: …", … in emission order

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        appSettings().clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        events.clear();
        connect(client, &IpfsClient::errorOccurred, this,
            [this](const QString& m) { events << QStringLiteral("error: ") + m; });
        connect(client, &IpfsClient::ipnsKeysFailed, this,
            [this](const QString& m) { events << QStringLiteral("keysFailed: ") + m; });
        connect(client, &IpfsClient::ipnsPublishFailed, this,
            [this](const QString& m) { events << QStringLiteral("publishFailed: ") + m; });
        connect(client, &IpfsClient::ipnsResolveFailed, this,
            [this](const QString& m) { events << QStringLiteral("resolveFailed: ") + m; });
    }

    void cleanup()
    {
        delete client;
        delete node;
    }

    void readers_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("keyNames");
        QTest::addColumn<QStringList>("keyIds");
        QTest::newRow("blanks trimmed, empty name and non-object dropped")
            << QByteArray(R"({"Keys":[{"Name":"  self  ","Id":" k51a "},{"Name":"","Id":"k51b"},42]})")
            << QStringList { QStringLiteral("self") } << QStringList { QStringLiteral("k51a") };
        QTest::newRow("order kept, non-string id empty")
            << QByteArray(R"({"Keys":[{"Name":"b","Id":1},{"Name":"a","Id":"k51"}]})")
            << QStringList { QStringLiteral("b"), QStringLiteral("a") }
            << QStringList { QString(), QStringLiteral("k51") };
        QTest::newRow("no Keys") << QByteArray("{}") << QStringList() << QStringList();
        QTest::newRow("Keys not an array")
            << QByteArray(R"({"Keys":{"Name":"self"}})") << QStringList() << QStringList();
    }

    void readers()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, keyNames);
        QFETCH(QStringList, keyIds);
        QStringList names;
        QStringList ids;
        for (const IpnsKeyEntry& key : parseIpnsKeys(object(reply))) {
            names << key.name;
            ids << key.id;
        }
        QCOMPARE(names, keyNames);
        QCOMPARE(ids, keyIds);
    }

    void publishAndResolveReaders()
    {
        const IpnsPublishResult published = parseIpnsPublishResult(
            object(R"({"Name":" k51x ","Value":" /ipfs/bafy "})"), QStringLiteral("self"));
        QCOMPARE(published.key, QStringLiteral("self"));
        QCOMPARE(published.name, QStringLiteral("k51x"));
        QCOMPARE(published.value, QStringLiteral("/ipfs/bafy"));
        const IpnsPublishResult emptyPublished = parseIpnsPublishResult(object("{}"), QStringLiteral("k"));
        QVERIFY(emptyPublished.name.isEmpty() && emptyPublished.value.isEmpty());

        const IpnsResolveResult resolved
            = parseIpnsResolveResult(object(R"({"Path":" /ipfs/bafy/x "})"), QStringLiteral("/ipns/k51"));
        QCOMPARE(resolved.name, QStringLiteral("/ipns/k51"));
        QCOMPARE(resolved.path, QStringLiteral("/ipfs/bafy/x"));
        QCOMPARE(parseIpnsResolveResult(object(R"({"Path":7})"), QString()).path, QString());
    }

    void publishQuery_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("sentPath");
        QTest::addColumn<QString>("sentKey");
        QTest::newRow("bare CID, empty key") << QStringLiteral("bafyroot") << QString()
                                             << QStringLiteral("/ipfs/bafyroot") << QStringLiteral("self");
        QTest::newRow("CID with sub-path, blanks")
            << QStringLiteral("  bafyroot/dir/f  ") << QStringLiteral("  mine ")
            << QStringLiteral("/ipfs/bafyroot/dir/f") << QStringLiteral("mine");
        QTest::newRow("ipfs path kept") << QStringLiteral("/ipfs/bafyroot") << QStringLiteral("k")
                                        << QStringLiteral("/ipfs/bafyroot") << QStringLiteral("k");
        QTest::newRow("ipns path kept") << QStringLiteral("/ipns/k51name") << QStringLiteral("   ")
                                        << QStringLiteral("/ipns/k51name") << QStringLiteral("self");
        QTest::newRow("upper-case prefix is not a prefix")
            << QStringLiteral("/IPFS/bafyroot") << QStringLiteral("self")
            << QStringLiteral("/ipfs//IPFS/bafyroot") << QStringLiteral("self");
    }

    void publishQuery()
    {
        QFETCH(QString, path);
        QFETCH(QString, key);
        QFETCH(QString, sentPath);
        QFETCH(QString, sentKey);
        node->route(QStringLiteral("/name/publish"),
            FakeKuboNode::json(R"({"Name":" k51pub ","Value":" /ipfs/bafyroot "})"));
        IpnsPublishResult result;
        bool answered = false;
        connect(client, &IpfsClient::ipnsPublished, this, [&](const IpnsPublishResult& r) {
            result = r;
            answered = true;
        });
        client->publishIpns(path, key);
        QTRY_VERIFY(answered);

        const auto requests = node->requests(QStringLiteral("/name/publish"));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().query,
            (Query { { QStringLiteral("arg"), sentPath }, { QStringLiteral("key"), sentKey } }));
        QCOMPARE(result.key, sentKey);
        QCOMPARE(result.name, QStringLiteral("k51pub"));
        QCOMPARE(result.value, QStringLiteral("/ipfs/bafyroot"));
        QVERIFY(events.isEmpty());
    }

    void resolveQuery_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sentName");
        QTest::newRow("bare key hash") << QStringLiteral(" k51name ") << QStringLiteral("/ipns/k51name");
        QTest::newRow("prefixed kept")
            << QStringLiteral("/ipns/example.org") << QStringLiteral("/ipns/example.org");
    }

    void resolveQuery()
    {
        QFETCH(QString, name);
        QFETCH(QString, sentName);
        node->route(QStringLiteral("/name/resolve"), FakeKuboNode::json(R"({"Path":" /ipfs/bafyres "})"));
        IpnsResolveResult result;
        bool answered = false;
        connect(client, &IpfsClient::ipnsResolved, this, [&](const IpnsResolveResult& r) {
            result = r;
            answered = true;
        });
        client->resolveIpns(name);
        QTRY_VERIFY(answered);
        const auto requests = node->requests(QStringLiteral("/name/resolve"));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().query, (Query { { QStringLiteral("arg"), sentName } }));
        QCOMPARE(result.name, sentName);
        QCOMPARE(result.path, QStringLiteral("/ipfs/bafyres"));
    }

    void keyListQuery()
    {
        node->route(QStringLiteral("/key/list"),
            FakeKuboNode::json(R"({"Keys":[{"Name":" self ","Id":"k51self"},{"Name":"","Id":"x"},3]})"));
        QList<IpnsKeyEntry> keys;
        bool answered = false;
        connect(client, &IpfsClient::ipnsKeysReceived, this, [&](const QList<IpnsKeyEntry>& k) {
            keys = k;
            answered = true;
        });
        client->fetchIpnsKeys();
        QTRY_VERIFY(answered);
        const auto requests = node->requests(QStringLiteral("/key/list"));
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests.first().query.isEmpty());
        QCOMPARE(requests.first().header("user-agent"), vaxelUserAgent());
        QCOMPARE(keys.size(), 1);
        QCOMPARE(keys.first().name, QStringLiteral("self"));
        QCOMPARE(keys.first().id, QStringLiteral("k51self"));
        QVERIFY(events.isEmpty());
    }

    void emptyKeyListIsStillAnAnswer()
    {
        node->route(QStringLiteral("/key/list"), FakeKuboNode::json(R"({"Keys":[]})"));
        bool answered = false;
        connect(client, &IpfsClient::ipnsKeysReceived, this,
            [&](const QList<IpnsKeyEntry>& k) { answered = k.isEmpty(); });
        client->fetchIpnsKeys();
        QTRY_VERIFY(answered);
    }

    void replyFailures_data()
    {
        QTest::addColumn<QString>("operation"); // keys, publish or resolve
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QByteArray kuboError = R"({"Message":"could not resolve name","Code":0,"Type":"error"})";
        QTest::newRow("resolve HTTP error gives the node's message")
            << QStringLiteral("resolve") << 500 << QByteArray("  ") + kuboError + QByteArray("\n")
            << QStringLiteral("Failed to resolve IPNS name: could not resolve name");
        QTest::newRow("keys HTTP error")
            << QStringLiteral("keys") << 500 << kuboError
            << QStringLiteral("Failed to list IPNS keys: could not resolve name");
        QTest::newRow("publish not JSON")
            << QStringLiteral("publish") << 200 << QByteArray("oops")
            << QStringLiteral("Failed to publish to IPNS: invalid JSON response");
        QTest::newRow("resolve array")
            << QStringLiteral("resolve") << 200 << QByteArray("[]")
            << QStringLiteral("Failed to resolve IPNS name: invalid JSON response");
        QTest::newRow("publish Message in a 200")
            << QStringLiteral("publish") << 200 << QByteArray(R"({"Message":" key not found "})")
            << QStringLiteral("Failed to publish to IPNS: key not found");
        QTest::newRow("keys Error in a 200")
            << QStringLiteral("keys") << 200 << QByteArray(R"({"Error":"locked"})")
            << QStringLiteral("Failed to list IPNS keys: locked");
    }

    void replyFailures()
    {
        QFETCH(QString, operation);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        const QString failure = operation == QLatin1String("keys") ? QStringLiteral("keysFailed: ")
            : operation == QLatin1String("publish")                ? QStringLiteral("publishFailed: ")
                                                                   : QStringLiteral("resolveFailed: ");
        FakeKuboNode::Response response = FakeKuboNode::json(body, status);
        node->route(QStringLiteral("/key/list"), response);
        node->route(QStringLiteral("/name/publish"), response);
        node->route(QStringLiteral("/name/resolve"), response);
        bool succeeded = false;
        connect(client, &IpfsClient::ipnsKeysReceived, this, [&] { succeeded = true; });
        connect(client, &IpfsClient::ipnsPublished, this, [&] { succeeded = true; });
        connect(client, &IpfsClient::ipnsResolved, this, [&] { succeeded = true; });

        if (operation == QLatin1String("keys"))
            client->fetchIpnsKeys();
        else if (operation == QLatin1String("publish"))
            client->publishIpns(QStringLiteral("bafyroot"), QString());
        else
            client->resolveIpns(QStringLiteral("k51name"));
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events, (QStringList { QStringLiteral("error: ") + expected, failure + expected }));
        QVERIFY(!succeeded);
    }

    void missingInputFailsAtOnceWithoutARequest()
    {
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        client->publishIpns(QStringLiteral("   "), QStringLiteral("self"));
        client->resolveIpns(QStringLiteral(" \t "));
        QCOMPARE(events,
            (QStringList {
                QStringLiteral("publishFailed: IPNS publish failed: content path/CID is required."),
                QStringLiteral("resolveFailed: IPNS resolve failed: name is required.") }));
        QCOMPARE(issued.count(), 0);
    }

    void unreachableNodeFails()
    {
        const quint16 port = node->port();
        delete node;
        node = nullptr;
        client->setEndpoint(QStringLiteral("127.0.0.1"), port);
        client->resolveIpns(QStringLiteral("k51name"));
        QTRY_COMPARE(events.size(), 2);
        QVERIFY(events.at(0).startsWith(QStringLiteral("error: Failed to resolve IPNS name: ")));
        QCOMPARE(events.at(1).mid(events.at(1).indexOf(QLatin1Char(' '))),
            events.at(0).mid(events.at(0).indexOf(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(TestIpnsOperations)
#include "tst_ipnsoperations.moc"
