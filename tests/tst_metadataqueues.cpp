#include <QtTest>

#include "appsettings.h"
#include "fakekubonode.h"
#include "fakepinstore.h"
#include "ipfsclient.h"
#include "refsparser.h"

#include <memory>

using namespace Qt::StringLiterals;

// The per-CID metadata requests: bounded queues, de-duplication, cancelling, and the answers.
class TestMetadataQueues : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    static QString cidAt(int index) { return u"bafyqueued%1"_s.arg(index, 3, 10, QLatin1Char('0')); }

    static QString commandOf(const QString& operation)
    {
        if (operation == "refs"_L1)
            return u"/refs"_s;
        if (operation == "dagstat"_L1)
            return u"/dag/stat"_s;
        return u"/files/stat"_s;
    }

    static FakeKuboNode::Response successOf(const QString& operation)
    {
        if (operation == "refs"_L1)
            return FakeKuboNode::text("{\"Ref\":\"bafychild\",\"Err\":\"\"}\n");
        if (operation == "dagstat"_L1)
            return FakeKuboNode::json("{\"TotalSize\":7}");
        return FakeKuboNode::json("{\"Type\":\"file\"}");
    }

    void send(const QString& operation, const QString& cid)
    {
        if (operation == "refs"_L1)
            client->fetchRefs(cid);
        else if (operation == "dagstat"_L1)
            client->fetchObjectStat(cid);
        else
            client->fetchKind(cid);
    }

    std::unique_ptr<QSignalSpy> answersOf(const QString& operation)
    {
        if (operation == "refs"_L1)
            return std::make_unique<QSignalSpy>(client, &IpfsClient::refsReceived);
        if (operation == "dagstat"_L1)
            return std::make_unique<QSignalSpy>(client, &IpfsClient::dagStatReceived);
        return std::make_unique<QSignalSpy>(client, &IpfsClient::kindReceived);
    }

    // The "arg" of a logged request ("[time] POST url"), without the "/ipfs/" of a file status.
    static QString argOfLogLine(const QString& line)
    {
        const QUrl url(line.mid(line.indexOf(" POST "_L1) + 6));
        QString arg = QUrlQuery(url).queryItemValue(u"arg"_s, QUrl::FullyDecoded);
        if (arg.startsWith("/ipfs/"_L1))
            arg.remove(0, 6);
        return arg;
    }

    // Waits for the spy to reach a count; faster than polling when answers come one by one.
    static bool waitForCount(QSignalSpy& spy, int count)
    {
        while (spy.count() < count) {
            if (!spy.wait(10000))
                return false;
        }
        return true;
    }

    static void addOperationRows()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("limit");
        QTest::newRow("refs") << u"refs"_s << 8;
        QTest::newRow("dag stat") << u"dagstat"_s << 24;
        QTest::newRow("kind") << u"kind"_s << 24;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
    }

    void init()
    {
        node = new FakeKuboNode;
        QVERIFY(node->start());
        client = new IpfsClient;
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        delete node;
    }

    void enqueueRefusesWhatIsQueued()
    {
        IpfsClient::RequestQueue queue;
        QVERIFY(queue.enqueue(u"a"_s));
        QVERIFY(queue.enqueue(u"b"_s));
        QVERIFY(!queue.enqueue(u"a"_s));
        QCOMPARE(queue.pending, (QStringList { u"a"_s, u"b"_s }));

        queue.pending.removeFirst(); // "a" in flight: still refused
        QVERIFY(!queue.enqueue(u"a"_s));
        queue.queued.remove(u"a"_s); // "a" finished: welcome again
        QVERIFY(queue.enqueue(u"a"_s));
        QCOMPARE(queue.pending, (QStringList { u"b"_s, u"a"_s }));
    }

    void emptyCidSendsNothing()
    {
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        client->fetchRefs(QString());
        client->fetchObjectStat(QString());
        client->fetchKind(QString());
        QCOMPARE(issued.count(), 0);
    }

    void limitsRequestsInFlight_data() { addOperationRows(); }

    void limitsRequestsInFlight()
    {
        QFETCH(QString, operation);
        QFETCH(int, limit);
        const QString command = commandOf(operation);
        node->route(command, FakeKuboNode::held());
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        const auto answers = answersOf(operation);

        constexpr int total = 30;
        for (int i = 0; i < total; ++i)
            send(operation, cidAt(i));
        QCOMPARE(issued.count(), limit);

        // Answer one request at a time: each answer sends exactly the next waiting CID.
        QSignalSpy arrived(node, &FakeKuboNode::requestReceived);
        while (answers->count() < total) {
            while (node->heldCount(command) == 0)
                QVERIFY(arrived.wait(10000));
            const int answered = int(answers->count());
            node->releaseHeld(command, successOf(operation), 1);
            QVERIFY(waitForCount(*answers, answered + 1));
            QCOMPARE(issued.count() - answers->count(), qMin(limit, total - int(answers->count())));
        }
        QCOMPARE(issued.count(), total);
        for (int i = 0; i < total; ++i)
            QCOMPARE(argOfLogLine(issued.at(i).at(0).toString()), cidAt(i));
    }

    void askingAgainWhileInFlightIsFree_data() { addOperationRows(); }

    void askingAgainWhileInFlightIsFree()
    {
        QFETCH(QString, operation);
        const QString command = commandOf(operation);
        node->route(command, FakeKuboNode::held());
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        const auto answers = answersOf(operation);

        send(operation, u"bafytwice"_s);
        send(operation, u"bafytwice"_s);
        QCOMPARE(issued.count(), 1);
        QTRY_COMPARE(node->heldCount(command), 1);
        node->releaseHeld(command, successOf(operation));
        QTRY_COMPARE(answers->count(), 1);

        // Once answered, the CID may be asked for again.
        node->route(command, successOf(operation));
        send(operation, u"bafytwice"_s);
        QCOMPARE(issued.count(), 2);
        QTRY_COMPARE(answers->count(), 2);
        QCOMPARE(node->requestCount(command), 2);
    }

    void cancelSilencesRequestsInFlight_data() { addOperationRows(); }

    void cancelSilencesRequestsInFlight()
    {
        QFETCH(QString, operation);
        QFETCH(int, limit);
        const QString command = commandOf(operation);
        node->route(command, FakeKuboNode::held());
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        const auto answers = answersOf(operation);

        for (int i = 0; i < limit + 100; ++i)
            send(operation, cidAt(i));
        QCOMPARE(issued.count(), limit);
        QTRY_VERIFY(node->heldCount(command) > 0);

        client->cancelActiveLoading();
        QCOMPARE(answers->count(), 0);
        QCOMPARE(errors.count(), 0);

        // The waiting CIDs are gone and the slots are free: a new CID goes out at once, and
        // one that was in flight may be asked for again.
        node->route(command, successOf(operation));
        send(operation, u"bafyafter"_s);
        send(operation, cidAt(0));
        QCOMPARE(issued.count(), limit + 2);
        QTRY_COMPARE(answers->count(), 2);
        const QSet<QString> answered { answers->at(0).at(0).toString(), answers->at(1).at(0).toString() };
        QCOMPARE(answered, (QSet<QString> { u"bafyafter"_s, cidAt(0) }));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(issued.count(), limit + 2);
    }

    void cancelSilencesKindFallback()
    {
        node->route(u"/files/stat"_s, FakeKuboNode::kuboError(u"not unixfs node (proto or raw)"_s));
        node->route(u"/ls"_s, FakeKuboNode::held());
        QSignalSpy kinds(client, &IpfsClient::kindReceived);
        QSignalSpy issued(client, &IpfsClient::rpcRequestIssued);

        client->fetchKind(u"bafyraw"_s);
        QTRY_COMPARE(node->heldCount(u"/ls"_s), 1);
        client->cancelActiveLoading();

        node->route(u"/ls"_s, FakeKuboNode::json("{\"Objects\":[{\"Hash\":\"x\",\"Links\":[]}]}"));
        client->fetchKind(u"bafyraw"_s);
        QCOMPARE(issued.count(), 3);
        QTRY_COMPARE(kinds.count(), 1);
        QCOMPARE(kinds.at(0).at(1).toString(), u"Other"_s);
    }

    void kindWithFallback_data()
    {
        QTest::addColumn<int>("statStatus");
        QTest::addColumn<QByteArray>("statBody");
        QTest::addColumn<int>("listStatus");
        QTest::addColumn<QByteArray>("listBody");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("listed");

        const QByteArray unused;
        const auto links = [](const QByteArray& names) {
            QByteArray list;
            for (const QByteArray& name : names.split(',')) {
                if (!list.isEmpty())
                    list += ',';
                list += "{\"Name\":\"" + name + "\",\"Hash\":\"bafylink\",\"Size\":1,\"Type\":2}";
            }
            return "{\"Objects\":[{\"Hash\":\"bafyroot\",\"Links\":[" + list + "]}]}";
        };

        QTest::newRow("file") << 200 << QByteArray("{\"Type\":\"file\"}") << 0 << unused << u"File"_s
                              << false;
        QTest::newRow("File") << 200 << QByteArray("{\"Type\":\"File\"}") << 0 << unused << u"File"_s
                              << false;
        QTest::newRow("directory") << 200 << QByteArray("{\"Type\":\"directory\",\"Size\":0}") << 0 << unused
                                   << u"Directory"_s << false;
        QTest::newRow("Directory") << 200 << QByteArray("{\"Type\":\"Directory\"}") << 0 << unused
                                   << u"Directory"_s << false;
        QTest::newRow("symlink") << 200 << QByteArray("{\"Type\":\"symlink\"}") << 0 << unused << u"Symlink"_s
                                 << false;
        QTest::newRow("symbolic-link")
            << 200 << QByteArray("{\"Type\":\"symbolic-link\"}") << 0 << unused << u"Symlink"_s << false;
        QTest::newRow("SymbolicLink")
            << 200 << QByteArray("{\"Type\":\"SymbolicLink\"}") << 0 << unused << u"Symlink"_s << false;

        QTest::newRow("unknown type, numbered links")
            << 200 << QByteArray("{\"Type\":\"dir\"}") << 200 << links("0,1,2") << u"File"_s << true;
        QTest::newRow("type is case-sensitive")
            << 200 << QByteArray("{\"Type\":\"FILE\"}") << 200 << links("0") << u"File"_s << true;
        QTest::newRow("stat fails, a named link") << 500 << QByteArray("{\"Message\":\"not unixfs\"}") << 200
                                                  << links("0,a") << u"Directory"_s << true;
        QTest::newRow("stat not an object, empty name")
            << 200 << QByteArray("[]") << 200 << links("") << u"Directory"_s << true;
        QTest::newRow("other decimal digits")
            << 200 << QByteArray("{}") << 200 << links(u"\u0663\u0660"_s.toUtf8()) << u"File"_s << true;
        QTest::newRow("digits outside the BMP")
            << 200 << QByteArray("{}") << 200 << links(u"\U0001D7CE"_s.toUtf8()) << u"File"_s << true;
        QTest::newRow("digit and sign")
            << 200 << QByteArray("{}") << 200 << links("-1") << u"Directory"_s << true;
        QTest::newRow("no links") << 200 << QByteArray("{}") << 200
                                  << QByteArray("{\"Objects\":[{\"Hash\":\"bafyroot\",\"Links\":[]}]}")
                                  << u"Other"_s << true;
        // No kind at all: the lookup failed (an empty kind below).
        QTest::newRow("listing fails")
            << 500 << QByteArray("{}") << 500 << QByteArray("{\"Message\":\"no\"}") << QString() << true;
        QTest::newRow("listing not JSON")
            << 200 << QByteArray("{}") << 200 << QByteArray("nonsense") << u"Other"_s << true;
    }

    void kindWithFallback()
    {
        QFETCH(int, statStatus);
        QFETCH(QByteArray, statBody);
        QFETCH(int, listStatus);
        QFETCH(QByteArray, listBody);
        QFETCH(QString, kind);
        QFETCH(bool, listed);
        node->route(u"/files/stat"_s, FakeKuboNode::json(statBody, statStatus));
        node->route(u"/ls"_s, FakeKuboNode::json(listBody, listStatus));
        QSignalSpy found(client, &IpfsClient::kindReceived);
        QSignalSpy failed(client, &IpfsClient::kindFailed);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy& kinds = kind.isEmpty() ? failed : found;

        client->fetchKind(u"bafykind"_s);
        QVERIFY(waitForCount(kinds, 1));
        QCOMPARE(found.count() + failed.count(), 1);
        QCOMPARE(kinds.at(0).at(0).toString(), u"bafykind"_s);
        if (kind.isEmpty())
            QCOMPARE(failed.at(0).at(1).toString(), u"no"_s);
        else
            QCOMPARE(kinds.at(0).at(1).toString(), kind);
        QCOMPARE(errors.count(), 0);

        const auto stat = node->requests(u"/files/stat"_s);
        QCOMPARE(stat.size(), 1);
        QCOMPARE(stat.at(0).queryKeys(), QStringList { u"arg"_s });
        QCOMPARE(stat.at(0).queryValue(u"arg"_s), u"/ipfs/bafykind"_s);

        const auto listings = node->requests(u"/ls"_s);
        QCOMPARE(listings.size(), listed ? 1 : 0);
        if (listed) {
            QCOMPARE(listings.at(0).query,
                (QList<QPair<QString, QString>> { { u"arg"_s, u"bafykind"_s }, { u"cid-base"_s, u"base32"_s },
                    { u"upgrade-cidv0-in-output"_s, u"true"_s } }));
        }

        // The lookup is over once answered: the CID may be asked for again.
        client->fetchKind(u"bafykind"_s);
        QVERIFY(waitForCount(kinds, 2));
    }

    void dagStatSize_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("size");
        QTest::newRow("current node")
            << QByteArray("{\"UniqueBlocks\":3,\"TotalSize\":5000000000,\"SharedSize\":0,"
                          "\"DagStats\":[{\"Cid\":\"x\",\"Size\":12,\"NumBlocks\":3}]}")
            << qint64(5000000000);
        QTest::newRow("older node") << QByteArray("{\"Size\":321,\"NumBlocks\":2}") << qint64(321);
        QTest::newRow("cumulative before size")
            << QByteArray("{\"CumulativeSize\":2048,\"Size\":10}") << qint64(2048);
        QTest::newRow("zero is a size") << QByteArray("{\"TotalSize\":0}") << qint64(0);
        QTest::newRow("first present wins") << QByteArray("{\"TotalSize\":null,\"Size\":5}") << qint64(0);
        QTest::newRow("numeric text") << QByteArray("{\"Size\":\"77\"}") << qint64(77);
        QTest::newRow("no size member") << QByteArray("{\"NumBlocks\":2}") << qint64(-1);
        QTest::newRow("not an object") << QByteArray("[1]") << qint64(-1);
        QTest::newRow("not JSON") << QByteArray("{\"TotalSize\":") << qint64(-1);
    }

    void dagStatSize()
    {
        QFETCH(QByteArray, body);
        QFETCH(qint64, size);
        node->route(u"/dag/stat"_s, FakeKuboNode::json(body));
        QSignalSpy sizes(client, &IpfsClient::dagStatReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchObjectStat(u"bafysize"_s);
        QVERIFY(waitForCount(sizes, 1));
        QCOMPARE(sizes.at(0).at(0).toString(), u"bafysize"_s);
        QCOMPARE(sizes.at(0).at(1).value<qint64>(), size);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(node->requests(u"/dag/stat"_s).at(0).query,
            (QList<QPair<QString, QString>> { { u"arg"_s, u"bafysize"_s }, { u"progress"_s, u"false"_s }, { u"offline"_s, u"true"_s } }));
    }

    void failureReportsErrorThenUnknownAnswer_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("errorPrefix");
        QTest::addColumn<QString>("answer");
        QTest::newRow("refs") << u"refs"_s << u"Failed to get refs for bafybroken: "_s
                              << u"refs failed: merkledag: not found"_s;
        QTest::newRow("dag stat") << u"dagstat"_s << u"DAG stat failed for bafybroken: "_s << u"size -1"_s;
    }

    void failureReportsErrorThenUnknownAnswer()
    {
        QFETCH(QString, operation);
        QFETCH(QString, errorPrefix);
        QFETCH(QString, answer);
        node->route(commandOf(operation), FakeKuboNode::kuboError(u"merkledag: not found"_s));
        QStringList events;
        connect(client, &IpfsClient::errorOccurred, this,
            [&events](const QString& message) { events << u"error "_s + message; });
        connect(
            client, &IpfsClient::refsReceived, this, [&events](const QString& cid, const QStringList& refs) {
                events << u"refs %1"_s.arg(refs.size()) + u" "_s + cid;
            });
        connect(client, &IpfsClient::refsFailed, this, [&events](const QString& cid, const QString& message) {
            events << u"refs failed: "_s + message + u" "_s + cid;
        });
        connect(client, &IpfsClient::dagStatReceived, this,
            [&events](const QString& cid, qint64 size) { events << u"size %1 %2"_s.arg(size).arg(cid); });

        send(operation, u"bafybroken"_s);
        QTRY_COMPARE(events.size(), 2);
        QVERIFY2(events.at(0).startsWith(u"error "_s + errorPrefix), qPrintable(events.at(0)));
        QVERIFY(events.at(0).size() > errorPrefix.size() + 6);
        QCOMPARE(events.at(1), answer + u" bafybroken"_s);

        // A failed request frees its slot like any other.
        send(operation, u"bafybroken"_s);
        QTRY_COMPARE(events.size(), 4);
    }

    // Each block once, in the node's order, and a walk that stopped part-way is a failure.
    void refsListEachBlockOnce()
    {
        FakePinStore store;
        const QString shared = store.addRaw(u"shared file"_s);
        const QString folderA = store.addNode(u"folder a"_s, 1, { shared });
        const QString folderB = store.addNode(u"folder b"_s, 0, { shared });
        const QString root = store.addNode(u"root"_s, 1, { folderA, folderB });
        store.serve(*node);
        QSignalSpy refs(client, &IpfsClient::refsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchRefs(root);
        QTRY_COMPARE(refs.count(), 1);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(refs.at(0).at(0).toString(), root);
        QCOMPARE(refs.at(0).at(1).toStringList(), (QStringList { folderA, shared, folderB }));
        QCOMPARE(node->requests(u"/refs"_s).at(0).query,
            (QList<QPair<QString, QString>> {
                { u"arg"_s, root }, { u"recursive"_s, u"true"_s }, { u"unique"_s, u"true"_s } }));

        // A failure leaves the refs unknown: no list, a failure of its own.
        store.dropBlock(folderB);
        QSignalSpy failed(client, &IpfsClient::refsFailed);
        client->fetchRefs(root);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(refs.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), root);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
            u"Failed to get refs for %1: block was not found locally (offline): ipld: could not find %2"_s.arg(
                root, folderB));
    }

    // A DAG of many blocks: the long answer is read whole, a walk error at its end still fails it,
    // and the request's slot comes free once the answer is in.
    void largeRefsAnswersAreReadWhole_data()
    {
        QTest::addColumn<bool>("stoppedPartWay");
        QTest::newRow("complete") << false;
        QTest::newRow("stopped part-way") << true;
    }

    void largeRefsAnswersAreReadWhole()
    {
        QFETCH(bool, stoppedPartWay);
        QStringList blocks;
        QByteArray body;
        for (int i = 0; i < 20000; ++i) {
            blocks.append(u"bafkreiblock%1"_s.arg(i, 6, 10, QLatin1Char('0')));
            body += "{\"Ref\":\"" + blocks.last().toLatin1() + "\",\"Err\":\"\"}\n";
        }
        if (stoppedPartWay)
            body += "{\"Ref\":\"\",\"Err\":\"block was not found locally\"}\n";
        node->route(u"/refs"_s, FakeKuboNode::streamed({ body }));
        QSignalSpy refs(client, &IpfsClient::refsReceived);
        QSignalSpy failed(client, &IpfsClient::refsFailed);

        for (int request = 0; request < 10; ++request) // more than the queue sends at once
            client->fetchRefs(u"bafyroot%1"_s.arg(request));
        QTRY_COMPARE_WITH_TIMEOUT(refs.count() + failed.count(), 10, 30000);
        QCOMPARE(refs.count(), stoppedPartWay ? 0 : 10);
        if (stoppedPartWay)
            QCOMPARE(failed.first().at(1).toString(), u"block was not found locally"_s);
        else
            QCOMPARE(refs.first().at(1).toStringList(), blocks);
        QCOMPARE(node->requestCount(u"/refs"_s), 10);
    }

    void refsWalkError_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QByteArray("{\"Ref\":\"bafya\",\"Err\":\"\"}\n") << QString();
        QTest::newRow("after refs") << QByteArray("{\"Ref\":\"bafya\",\"Err\":\"\"}\n{\"Ref\":\"\",\"Err\":\" gone \"}\n")
                                    << u"gone"_s;
        QTest::newRow("the first of two") << QByteArray("{\"Ref\":\"\",\"Err\":\"one\"}\n{\"Ref\":\"\",\"Err\":\"two\"}")
                                          << u"one"_s;
        QTest::newRow("not JSON") << QByteArray("\"Err\": no object") << QString();
    }

    void refsWalkError()
    {
        QFETCH(QByteArray, body);
        QTEST(::refsWalkError(body), "error");
    }

    void parseRefsLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("ref");
        QTest::newRow("ref") << QByteArray("{\"Ref\":\"bafya\",\"Err\":\"\"}") << u"bafya"_s;
        QTest::newRow("blanks around") << QByteArray(" \t{\"Ref\":\"bafya\"}\r") << u"bafya"_s;
        QTest::newRow("value untrimmed") << QByteArray("{\"Ref\":\" bafya \"}") << u" bafya "_s;
        QTest::newRow("empty ref wins over cid")
            << QByteArray("{\"Ref\":\"\",\"Cid\":\"bafyb\"}") << QString();
        QTest::newRow("cid text") << QByteArray("{\"Cid\":\"bafyb\"}") << u"bafyb"_s;
        QTest::newRow("cid link") << QByteArray("{\"Cid\":{\"/\":\"bafyc\"}}") << u"bafyc"_s;
        QTest::newRow("cid number") << QByteArray("{\"Cid\":5}") << QString();
        QTest::newRow("neither") << QByteArray("{\"Err\":\"boom\"}") << QString();
        QTest::newRow("plain text") << QByteArray("bafyplain") << QString();
        QTest::newRow("array") << QByteArray("[\"bafya\"]") << QString();
        QTest::newRow("blank") << QByteArray("   ") << QString();
    }

    void parseRefsLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, ref);
        QCOMPARE(::parseRefsLine(line), ref);
    }
};

QTEST_MAIN(TestMetadataQueues)
#include "tst_metadataqueues.moc"
