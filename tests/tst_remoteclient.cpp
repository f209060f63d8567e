#include <QtTest>

#include "fakekubonode.h"
#include "fakeremotepins.h"
#include "ipfsclient.h"

using namespace Qt::StringLiterals;

using QueryItems = QList<QPair<QString, QString>>;

// Remote pins and remote pinning services against the fake node: what is sent, what is refused
// before sending, and how every answer is reported.
class TestRemoteClient : public QObject
{
    Q_OBJECT

    struct Call {
        QString operation;
        QStringList args;
        bool flag = false; // background for pinAdd, stat for servicesList
    };

    static void run(IpfsClient& client, const Call& call)
    {
        const auto arg = [&call](int i) { return call.args.value(i); };
        if (call.operation == u"pinAdd")
            client.remotePinAdd(arg(0), arg(1), arg(2), call.flag);
        else if (call.operation == u"pinStatus")
            client.fetchRemotePinStatus(arg(0), arg(1));
        else if (call.operation == u"servicesList")
            client.fetchRemoteServices(call.flag, arg(0));
        else if (call.operation == u"serviceTest")
            client.testRemoteService(arg(0));
        else if (call.operation == u"serviceAdd")
            client.addRemoteService(arg(0), arg(1), arg(2));
        else if (call.operation == u"serviceRemove")
            client.removeRemoteService(arg(0));
        else
            QFAIL("unknown operation");
    }

    static QString commandOf(const QString& operation)
    {
        static const QHash<QString, QString> commands = {
            { u"pinAdd"_s, u"/pin/remote/add"_s },
            { u"pinStatus"_s, u"/pin/remote/ls"_s },
            { u"servicesList"_s, u"/pin/remote/service/ls"_s },
            { u"serviceTest"_s, u"/pin/remote/service/ls"_s },
            { u"serviceAdd"_s, u"/pin/remote/service/add"_s },
            { u"serviceRemove"_s, u"/pin/remote/service/rm"_s },
        };
        return commands.value(operation);
    }

    // Every answer signal, as "name: arg | arg", plus the log lines of the requests sent.
    void watch(IpfsClient& client)
    {
        events.clear();
        logLines.clear();
        const auto record = [this](const QString& name, const QStringList& args) {
            events << name + u": "_s + args.join(u" | "_s);
        };
        connect(
            &client, &IpfsClient::rpcRequestIssued, this, [this](const QString& line) { logLines << line; });
        connect(&client, &IpfsClient::errorOccurred, this,
            [record](const QString& m) { record(u"errorOccurred"_s, { m }); });
        connect(&client, &IpfsClient::remotePinQueued, this, [record](const QString& c, const QString& s) {
            record(u"remotePinQueued"_s, { c, s });
        });
        connect(&client, &IpfsClient::remotePinQueueFailed, this,
            [record](const QString& c, const QString& s, const QString& m) {
                record(u"remotePinQueueFailed"_s, { c, s, m });
            });
        connect(&client, &IpfsClient::remotePinStatusReceived, this,
            [record](const QString& c, const QString& s, const QString& st) {
                record(u"remotePinStatusReceived"_s, { c, s, st });
            });
        connect(&client, &IpfsClient::remotePinStatusFailed, this,
            [record](const QString& c, const QString& s, const QString& m) {
                record(u"remotePinStatusFailed"_s, { c, s, m });
            });
        connect(&client, &IpfsClient::remoteServicesReceived, this,
            [record](const QList<RemoteServiceEntry>& list) {
                QStringList entries;
                for (const RemoteServiceEntry& entry : list)
                    entries << entry.name + u'=' + entry.endpoint;
                record(u"remoteServicesReceived"_s, entries);
            });
        connect(&client, &IpfsClient::remoteServicesFailed, this,
            [record](const QString& m) { record(u"remoteServicesFailed"_s, { m }); });
        connect(&client, &IpfsClient::remoteServiceAdded, this,
            [record](const QString& n) { record(u"remoteServiceAdded"_s, { n }); });
        connect(&client, &IpfsClient::remoteServiceAddFailed, this,
            [record](const QString& m) { record(u"remoteServiceAddFailed"_s, { m }); });
        connect(&client, &IpfsClient::remoteServiceRemoved, this,
            [record](const QString& n) { record(u"remoteServiceRemoved"_s, { n }); });
        connect(&client, &IpfsClient::remoteServiceRemoveFailed, this,
            [record](const QString& m) { record(u"remoteServiceRemoveFailed"_s, { m }); });
        connect(&client, &IpfsClient::remoteServiceTested, this,
            [record](const QString& n, bool ok, const QString& m) {
                record(u"remoteServiceTested"_s, { n, ok ? u"true"_s : u"false"_s, m });
            });
    }

    QStringList events;
    QStringList logLines;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void queryItems_data();
    void queryItems();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void answers_data();
    void answers();
    void valuesReachTheNodeUnchanged();
    void fakeServiceListsAsTheNodeDoes_data();
    void fakeServiceListsAsTheNodeDoes();
    void statusRequestsTakeTurnsPerService();
    void pinRequestsTakeTurnsPerService();
};

void TestRemoteClient::queryItems_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<QueryItems>("items");

    QTest::newRow("pin add, everything trimmed")
        << u"pinAdd"_s << QStringList { u" bafyA "_s, u" svc "_s, u" label "_s } << true
        << QueryItems { { u"arg"_s, u"bafyA"_s }, { u"service"_s, u"svc"_s }, { u"name"_s, u"label"_s },
               { u"background"_s, u"true"_s } };
    QTest::newRow("pin add, blank name and no background")
        << u"pinAdd"_s << QStringList { u"bafyA"_s, u"svc"_s, u"   "_s } << false
        << QueryItems { { u"arg"_s, u"bafyA"_s }, { u"service"_s, u"svc"_s } };
    QTest::newRow("pin status, every status")
        << u"pinStatus"_s << QStringList { u" bafyA "_s, u"\tsvc "_s } << false
        << QueryItems { { u"cid"_s, u"bafyA"_s }, { u"service"_s, u"svc"_s }, { u"status"_s, u"queued"_s },
               { u"status"_s, u"pinning"_s }, { u"status"_s, u"pinned"_s }, { u"status"_s, u"failed"_s } };
    QTest::newRow("service list") << u"servicesList"_s << QStringList { QString() } << false
                                  << QueryItems { { u"stat"_s, u"false"_s } };
    QTest::newRow("service list by name")
        << u"servicesList"_s << QStringList { u" pinata "_s } << true
        << QueryItems { { u"stat"_s, u"true"_s }, { u"name"_s, u"pinata"_s } };
    QTest::newRow("service list, blank name")
        << u"servicesList"_s << QStringList { u"  "_s } << true << QueryItems { { u"stat"_s, u"true"_s } };
    QTest::newRow("service test") << u"serviceTest"_s << QStringList { u" pinata "_s } << false
                                  << QueryItems { { u"stat"_s, u"true"_s }, { u"name"_s, u"pinata"_s } };
    QTest::newRow("service add: name, endpoint, token")
        << u"serviceAdd"_s << QStringList { u" pinata "_s, u" https://api.example/psa "_s, u" tok "_s }
        << false
        << QueryItems { { u"arg"_s, u"pinata"_s }, { u"arg"_s, u"https://api.example/psa"_s },
               { u"arg"_s, u"tok"_s } };
    QTest::newRow("service remove") << u"serviceRemove"_s << QStringList { u" pinata "_s } << false
                                    << QueryItems { { u"arg"_s, u"pinata"_s } };
}

void TestRemoteClient::queryItems()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, args);
    QFETCH(bool, flag);
    QFETCH(QueryItems, items);

    FakeKuboNode node;
    QVERIFY(node.start());
    const QString command = commandOf(operation);
    node.route(command, FakeKuboNode::json("{}"));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    watch(client);

    run(client, { operation, args, flag });
    QTRY_COMPARE(node.requestCount(command), 1);
    const FakeKuboNode::Request request = node.requests(command).first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.query, items);
    QTRY_COMPARE(events.size(), 1); // answered once, whatever the answer
}

void TestRemoteClient::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("event");

    const QString pinRequired = u"Remote pin failed: CID and service are required."_s;
    const QString statusRequired = u"Remote pin status request failed: CID and service are required."_s;
    const QString addRequired = u"Service name, endpoint, and access token are required."_s;
    QTest::newRow("pin add, blank cid") << u"pinAdd"_s << QStringList { u"  "_s, u" svc "_s, u"x"_s }
                                        << u"remotePinQueueFailed:  | svc | "_s + pinRequired;
    QTest::newRow("pin add, blank service") << u"pinAdd"_s << QStringList { u" bafyA "_s, u"\t"_s }
                                            << u"remotePinQueueFailed: bafyA |  | "_s + pinRequired;
    QTest::newRow("pin status, blank cid") << u"pinStatus"_s << QStringList { QString(), u"svc"_s }
                                           << u"remotePinStatusFailed:  | svc | "_s + statusRequired;
    QTest::newRow("pin status, blank service") << u"pinStatus"_s << QStringList { u"bafyA"_s, u" "_s }
                                               << u"remotePinStatusFailed: bafyA |  | "_s + statusRequired;
    QTest::newRow("test, blank name") << u"serviceTest"_s << QStringList { u"  "_s }
                                      << u"remoteServiceTested:  | false | Service name is required."_s;
    QTest::newRow("add, blank name") << u"serviceAdd"_s << QStringList { u" "_s, u"https://e"_s, u"tok"_s }
                                     << u"remoteServiceAddFailed: "_s + addRequired;
    QTest::newRow("add, blank endpoint") << u"serviceAdd"_s << QStringList { u"p"_s, u" "_s, u"tok"_s }
                                         << u"remoteServiceAddFailed: "_s + addRequired;
    QTest::newRow("add, blank token") << u"serviceAdd"_s << QStringList { u"p"_s, u"https://e"_s, u"  \t"_s }
                                      << u"remoteServiceAddFailed: "_s + addRequired;
    QTest::newRow("remove, blank name") << u"serviceRemove"_s << QStringList { u" "_s }
                                        << u"remoteServiceRemoveFailed: Service name is required."_s;
}

void TestRemoteClient::refusedBeforeSending()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, args);
    QFETCH(QString, event);

    IpfsClient client;
    client.setEndpoint(u"127.0.0.1"_s, 9); // nothing listens: a request would fail loudly
    watch(client);

    run(client, { operation, args, false });
    // Answered inside the call, before any event loop ran, and nothing was sent or logged.
    QCOMPARE(events, QStringList { event });
    QVERIFY(logLines.isEmpty());
}

void TestRemoteClient::answers_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // A trailing '*' compares the start only (the rest is the network error string).
    QTest::addColumn<QString>("event");

    const QStringList pin { u" bafyA "_s, u" svc "_s };
    const QByteArray nodeError = R"({"Message":"BODYMARK","Code":0,"Type":"error"})";
    const QString nodeErrorText = u"BODYMARK"_s; // the node's message, never its whole error object

    QTest::newRow("pin add: empty body is queued")
        << u"pinAdd"_s << pin << 200 << QByteArray() << u"remotePinQueued: bafyA | svc"_s;
    QTest::newRow("pin add: array is queued")
        << u"pinAdd"_s << pin << 200 << QByteArray("[]") << u"remotePinQueued: bafyA | svc"_s;
    QTest::newRow("pin add: text is queued")
        << u"pinAdd"_s << pin << 200 << QByteArray("queued") << u"remotePinQueued: bafyA | svc"_s;
    QTest::newRow("pin add: error member")
        << u"pinAdd"_s << pin << 200 << QByteArray(R"({"Error":" quota "})")
        << u"remotePinQueueFailed: bafyA | svc | Remote pin failed for bafyA: quota"_s;
    QTest::newRow("pin add: http error gives the node's message")
        << u"pinAdd"_s << pin << 500 << nodeError
        << u"remotePinQueueFailed: bafyA | svc | Remote pin failed for bafyA: "_s + nodeErrorText;
    QTest::newRow("pin add: http error with blank body")
        << u"pinAdd"_s << pin << 500 << QByteArray("  \n")
        << u"remotePinQueueFailed: bafyA | svc | Remote pin failed for bafyA: *"_s;

    QTest::newRow("pin status: found")
        << u"pinStatus"_s << pin << 200
        << QByteArray(
               R"({"Pins":[{"Cid":"bafyB","Status":"failed"},{"Cid":{"/":"bafyA"},"Status":"Pinned"}]})")
        << u"remotePinStatusReceived: bafyA | svc | pinned"_s;
    QTest::newRow("pin status: streamed as the node does")
        << u"pinStatus"_s << pin << 200
        << QByteArray("{\"Status\":\"queued\",\"Cid\":\"bafyB\",\"Name\":\"\"}\n"
                      "{\"Status\":\"pinned\",\"Cid\":\"bafyA\",\"Name\":\"\"}\n")
        << u"remotePinStatusReceived: bafyA | svc | pinned"_s;
    QTest::newRow("pin status: nothing streamed") << u"pinStatus"_s << pin << 200 << QByteArray()
                                                  << u"remotePinStatusReceived: bafyA | svc | not-found"_s;
    QTest::newRow("pin status: not listed") << u"pinStatus"_s << pin << 200 << QByteArray("{}")
                                            << u"remotePinStatusReceived: bafyA | svc | not-found"_s;
    QTest::newRow("pin status: array")
        << u"pinStatus"_s << pin << 200 << QByteArray("[]")
        << u"remotePinStatusFailed: bafyA | svc | Remote pin status failed for bafyA: invalid JSON response."_s;
    QTest::newRow("pin status: error member")
        << u"pinStatus"_s << pin << 200 << QByteArray(R"({"Error":"no such service"})")
        << u"remotePinStatusFailed: bafyA | svc | Remote pin status failed for bafyA: no such service"_s;
    QTest::newRow("pin status: http error gives the node's message")
        << u"pinStatus"_s << pin << 500 << nodeError
        << u"remotePinStatusFailed: bafyA | svc | Remote pin status failed for bafyA: "_s + nodeErrorText;

    const QStringList list { QString() };
    QTest::newRow("list: empty") << u"servicesList"_s << list << 200 << QByteArray(R"({"RemoteServices":[]})")
                                 << u"remoteServicesReceived: "_s;
    QTest::newRow("list: two services")
        << u"servicesList"_s << list << 200
        << QByteArray(R"({"RemoteServices":[{"Service":"a","ApiEndpoint":"https://a"},{"Service":"b"}]})")
        << u"remoteServicesReceived: a=https://a | b="_s;
    QTest::newRow("list: array")
        << u"servicesList"_s << list << 200 << QByteArray("[]")
        << u"remoteServicesFailed: Remote service request failed: invalid JSON response."_s;
    QTest::newRow("list: error member")
        << u"servicesList"_s << list << 200 << QByteArray(R"({"Error":" denied "})")
        << u"remoteServicesFailed: denied"_s;
    QTest::newRow("list: http error") << u"servicesList"_s << list << 500 << nodeError
                                      << u"remoteServicesFailed: Remote service request failed: "_s + nodeErrorText;

    const QStringList test { u" pinata "_s };
    QTest::newRow("test: listed")
        << u"serviceTest"_s << test << 200 << QByteArray(R"({"RemoteServices":[{"Service":"pinata"}]})")
        << u"remoteServiceTested: pinata | true | Service 'pinata' is configured and reachable."_s;
    QTest::newRow("test: listed and valid")
        << u"serviceTest"_s << test << 200
        << QByteArray(R"({"RemoteServices":[{"Service":"pinata","Stat":{"Status":"valid"}}]})")
        << u"remoteServiceTested: pinata | true | Service 'pinata' is configured and reachable."_s;
    QTest::newRow("test: listed but invalid")
        << u"serviceTest"_s << test << 200
        << QByteArray(R"({"RemoteServices":[{"Service":"pinata","Stat":{"Status":"invalid"}}]})")
        << u"remoteServiceTested: pinata | false | Service 'pinata' is configured, but Kubo could not reach it."_s;
    QTest::newRow("test: listed in other case")
        << u"serviceTest"_s << test << 200 << QByteArray(R"({"RemoteServices":[{"Service":"Pinata"}]})")
        << u"remoteServiceTested: pinata | false | Service 'pinata' was not returned by Kubo."_s;
    QTest::newRow("test: empty listing")
        << u"serviceTest"_s << test << 200 << QByteArray(R"({"RemoteServices":[]})")
        << u"remoteServiceTested: pinata | false | Service 'pinata' was not returned by Kubo."_s;
    QTest::newRow("test: error member")
        << u"serviceTest"_s << test << 200 << QByteArray(R"({"Error":"denied"})")
        << u"remoteServiceTested: pinata | false | denied"_s;
    QTest::newRow("test: array")
        << u"serviceTest"_s << test << 200 << QByteArray("[]")
        << u"remoteServiceTested: pinata | false | Remote service request failed: invalid JSON response."_s;
    QTest::newRow("test: http error")
        << u"serviceTest"_s << test << 500 << nodeError
        << u"remoteServiceTested: pinata | false | Remote service request failed: "_s + nodeErrorText;

    const QStringList add { u" pinata "_s, u"https://e"_s, u"tok"_s };
    QTest::newRow("add: empty body") << u"serviceAdd"_s << add << 200 << QByteArray()
                                     << u"remoteServiceAdded: pinata"_s;
    QTest::newRow("add: text body") << u"serviceAdd"_s << add << 200 << QByteArray("ok")
                                    << u"remoteServiceAdded: pinata"_s;
    QTest::newRow("add: object without error")
        << u"serviceAdd"_s << add << 200 << QByteArray("{}") << u"remoteServiceAdded: pinata"_s;
    QTest::newRow("add: error member")
        << u"serviceAdd"_s << add << 200 << QByteArray(R"({"Error":" exists "})")
        << u"remoteServiceAddFailed: Failed to add remote service 'pinata': exists"_s;
    QTest::newRow("add: http error gives the node's message")
        << u"serviceAdd"_s << add << 500 << nodeError
        << u"remoteServiceAddFailed: Failed to add remote service 'pinata': "_s + nodeErrorText;

    const QStringList remove { u" pinata "_s };
    QTest::newRow("remove: empty body")
        << u"serviceRemove"_s << remove << 200 << QByteArray() << u"remoteServiceRemoved: pinata"_s;
    QTest::newRow("remove: error member")
        << u"serviceRemove"_s << remove << 200 << QByteArray(R"({"Error":"not found"})")
        << u"remoteServiceRemoveFailed: Failed to remove remote service 'pinata': not found"_s;
    QTest::newRow("remove: client error gives the node's message")
        << u"serviceRemove"_s << remove << 400 << nodeError
        << u"remoteServiceRemoveFailed: Failed to remove remote service 'pinata': "_s + nodeErrorText;
    QTest::newRow("remove: http error with blank body")
        << u"serviceRemove"_s << remove << 500 << QByteArray("   ")
        << u"remoteServiceRemoveFailed: Failed to remove remote service 'pinata': *"_s;
}

void TestRemoteClient::answers()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, event);

    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(commandOf(operation), FakeKuboNode::text(body, status));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    watch(client);

    run(client, { operation, args, true });
    // The handler emits all it emits at once, so the first answer is the whole answer.
    QTRY_VERIFY(!events.isEmpty());
    QCOMPARE(events.size(), 1);
    const QString got = events.first();
    if (event.endsWith(u'*')) {
        QVERIFY2(got.startsWith(event.chopped(1)), qPrintable(got));
        QVERIFY2(got.size() > event.size() - 1, "the network error string is missing");
        QVERIFY2(!got.contains(u"BODYMARK"_s), qPrintable(got));
    } else {
        QCOMPARE(got, event);
    }
}

void TestRemoteClient::valuesReachTheNodeUnchanged()
{
    // A real node reads '+' as a blank and "%41" as 'A': both must be escaped on the way.
    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(u"/pin/remote/service/add"_s, FakeKuboNode::json("{}"));
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    watch(client);

    const QString token = u"ab+c/d=e&f%41 g#h"_s;
    client.addRemoteService(u"my+svc"_s, u"https://api.example/psa?x=1&y=2"_s, token);
    QTRY_COMPARE(events.size(), 1);
    const FakeKuboNode::Request request = node.requests(u"/pin/remote/service/add"_s).first();
    QCOMPARE(request.queryValues(u"arg"_s),
        (QStringList { u"my+svc"_s, u"https://api.example/psa?x=1&y=2"_s, token }));
    QVERIFY2(!request.rawQuery.contains(u'+'), qPrintable(request.rawQuery));
}

void TestRemoteClient::fakeServiceListsAsTheNodeDoes_data()
{
    QTest::addColumn<QueryItems>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QueryItems svc { { u"service"_s, u"svc"_s } };
    QTest::newRow("without a status only pinned pins")
        << svc << 200 << QByteArray("{\"Cid\":\"bafyP\",\"Name\":\"\",\"Status\":\"pinned\"}\n");
    QTest::newRow("several statuses are several items")
        << svc + QueryItems { { u"status"_s, u"failed"_s }, { u"status"_s, u"queued"_s } } << 200
        << QByteArray("{\"Cid\":\"bafyQ\",\"Name\":\"\",\"Status\":\"queued\"}\n"
                      "{\"Cid\":\"bafyF\",\"Name\":\"\",\"Status\":\"failed\"}\n");
    QTest::newRow("several cids in one request")
        << svc
            + QueryItems { { u"cid"_s, u"bafyF"_s }, { u"cid"_s, u"bafyP"_s }, { u"status"_s, u"queued"_s },
                  { u"status"_s, u"pinning"_s }, { u"status"_s, u"pinned"_s }, { u"status"_s, u"failed"_s } }
        << 200
        << QByteArray("{\"Cid\":\"bafyP\",\"Name\":\"\",\"Status\":\"pinned\"}\n"
                      "{\"Cid\":\"bafyF\",\"Name\":\"\",\"Status\":\"failed\"}\n");
    QTest::newRow("a comma is no separator")
        << svc + QueryItems { { u"status"_s, u"queued,failed"_s } } << 500
        << FakeKuboNode::kuboError(u"status \"queued,failed\" is not valid"_s).chunks.first().data;
    QTest::newRow("unknown service") << QueryItems { { u"service"_s, u"other"_s } } << 500
                                     << FakeKuboNode::kuboError(u"service not known"_s).chunks.first().data;
}

void TestRemoteClient::fakeServiceListsAsTheNodeDoes()
{
    QFETCH(QueryItems, query);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    FakeRemotePins service(u"svc"_s);
    service.set(u"bafyP"_s, u"pinned"_s);
    service.set(u"bafyQ"_s, u"queued"_s);
    service.set(u"bafyF"_s, u"failed"_s);
    FakeKuboNode::Request request;
    request.query = query;
    const FakeKuboNode::Response response = service.answer(request);
    QByteArray sent;
    for (const FakeKuboNode::Chunk& chunk : response.chunks)
        sent += chunk.data;
    QCOMPARE(response.status, status);
    QCOMPARE(sent, body);
}

// One status request per service at a time, ten CIDs at most in each; every CID asked is answered
// once, a failed pin as failed.
void TestRemoteClient::statusRequestsTakeTurnsPerService()
{
    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(u"/pin/remote/ls"_s, [](const FakeKuboNode::Request& request) {
        return request.queryValue(u"service"_s) == u"svc" ? FakeKuboNode::held() : FakeKuboNode::json("");
    });
    FakeRemotePins service(u"svc"_s);
    service.set(u"cid00"_s, u"failed"_s);
    service.set(u"cid01"_s, u"queued"_s);
    service.set(u"cid12"_s, u"pinned"_s);
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    watch(client);

    QStringList cids;
    for (int i = 0; i < 25; ++i)
        cids << u"cid%1"_s.arg(i, 2, 10, QLatin1Char('0'));
    client.fetchRemotePinStatus(cids, u"svc"_s);
    client.fetchRemotePinStatus(u"cid24"_s, u"svc"_s); // already waiting: asked once
    client.fetchRemotePinStatus(u"other"_s, u"svc2"_s); // another service does not wait
    QTRY_COMPARE(events, QStringList { u"remotePinStatusReceived: other | svc2 | not-found"_s });

    QList<QStringList> asked;
    for (int answered : { 10, 20, 25 }) {
        QTRY_COMPARE(node.heldCount(u"/pin/remote/ls"_s), 1);
        const FakeKuboNode::Request request = node.heldRequests(u"/pin/remote/ls"_s).first();
        asked << request.queryValues(u"cid"_s);
        QCOMPARE(request.queryValues(u"status"_s),
            (QStringList { u"queued"_s, u"pinning"_s, u"pinned"_s, u"failed"_s }));
        node.releaseHeld(u"/pin/remote/ls"_s, service.answer(request));
        QTRY_COMPARE(events.filter(u"| svc |"_s).size(), answered);
    }
    QCOMPARE(asked, (QList<QStringList> { cids.mid(0, 10), cids.mid(10, 10), cids.mid(20) }));
    QCOMPARE(events.value(1), u"remotePinStatusReceived: cid00 | svc | failed"_s);
    QCOMPARE(events.value(2), u"remotePinStatusReceived: cid01 | svc | queued"_s);
    QCOMPARE(events.value(3), u"remotePinStatusReceived: cid02 | svc | not-found"_s);
    QCOMPARE(events.value(13), u"remotePinStatusReceived: cid12 | svc | pinned"_s);
    QCOMPARE(node.requestCount(u"/pin/remote/ls"_s), 4);
}

// A few pin requests per service at a time, in the order asked; each is answered once.
void TestRemoteClient::pinRequestsTakeTurnsPerService()
{
    FakeKuboNode node;
    QVERIFY(node.start());
    node.route(u"/pin/remote/add"_s, FakeKuboNode::held());
    IpfsClient client;
    client.setEndpoint(node.host(), node.port());
    watch(client);

    constexpr int pins = 7;
    for (int i = 0; i < pins; ++i)
        client.remotePinAdd(u"cid%1"_s.arg(i), u"svc"_s, u"label"_s, true);
    QCOMPARE(logLines.size(), 3); // sent inside the calls; the others wait their turn

    for (int answered = 0; answered < pins; ++answered) {
        QTRY_COMPARE(node.heldCount(u"/pin/remote/add"_s), qMin(3, pins - answered));
        node.releaseHeld(u"/pin/remote/add"_s,
            answered == 0 ? FakeKuboNode::kuboError(u"quota exceeded"_s) : FakeKuboNode::json("{}"), 1);
        QTRY_COMPARE(events.size(), answered + 1);
    }
    const QString failure = u"remotePinQueueFailed: cid0 | svc | Remote pin failed for cid0: "_s;
    QVERIFY2(events.first().startsWith(failure) && events.first().contains(u"quota exceeded"_s),
        qPrintable(events.first()));
    QCOMPARE(events.filter(u"remotePinQueued: "_s).size(), pins - 1);
    QStringList sent;
    for (const FakeKuboNode::Request& request : node.requests(u"/pin/remote/add"_s))
        sent << request.queryValue(u"arg"_s);
    QCOMPARE(sent,
        (QStringList { u"cid0"_s, u"cid1"_s, u"cid2"_s, u"cid3"_s, u"cid4"_s, u"cid5"_s, u"cid6"_s }));
}

QTEST_GUILESS_MAIN(TestRemoteClient)
#include "tst_remoteclient.moc"
