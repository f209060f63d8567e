#include <QtTest>

#include "appsettings.h"
#include "cidtext.h"
#include "fakekubonode.h"
#include "fakepinstore.h"
#include "ipfsclient.h"
#include "refsparser.h"
#include "streamlines.h"

using namespace Qt::StringLiterals;

namespace {

// A node with pins of both CID versions, an indirect dag-pb block and raw leaf under one of them,
// and two blocks no pin covers. The node lists every block as a raw CIDv1 and the pins, asked
// with "upgrade-cidv0-in-output", in their CIDv1 forms: no text is the same in both listings.
struct Repository {
    FakePinStore store;
    QSet<QString> unpinned; // as "/refs/local" names them
    Repository()
    {
        const QString leaf = store.addRaw(u"leaf"_s);
        const QString child = store.addNode(u"child"_s, 0, { leaf });
        store.pin(store.addNode(u"folder"_s, 0, { child }), u"recursive"_s, u"photos"_s);
        store.pin(store.addNode(u"direct"_s, 1), u"direct"_s);
        unpinned = { store.addRaw(u"loose leaf"_s), cidV1Text(kRawCodec, cidMultihash(store.addNode(u"loose node"_s, 0))) };
    }
};

// The answer cut into pieces of a few bytes, mid-line, each after a delay.
FakeKuboNode::Response inPieces(const FakeKuboNode::Response& whole, int size, int delayMs)
{
    QByteArray body;
    for (const FakeKuboNode::Chunk& chunk : whole.chunks)
        body += chunk.data;
    FakeKuboNode::Response pieces = whole;
    pieces.chunks.clear();
    for (qsizetype at = 0; at < body.size(); at += size)
        pieces.chunks.append({ body.mid(at, size), delayMs });
    return pieces;
}

FakeKuboNode::Request request(const QList<QPair<QString, QString>>& query)
{
    FakeKuboNode::Request request;
    request.query = query;
    return request;
}

QSet<QString> cidsOf(const QList<PinEntry>& entries)
{
    QSet<QString> cids;
    for (const PinEntry& entry : entries)
        cids.insert(entry.cid);
    return cids;
}

} // namespace

// The unpinned computation: local blocks minus pinned CIDs, from two streams that finish in
// either order.
class TestUnpinned : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    Repository repository;

    // What the node answers to the computation's two requests.
    FakeKuboNode::Response pinListing() const
    {
        return repository.store.pinLs(request({ { u"type"_s, u"all"_s }, { u"stream"_s, u"true"_s },
            { u"cid-base"_s, u"base32"_s }, { u"upgrade-cidv0-in-output"_s, u"true"_s } }));
    }
    FakeKuboNode::Response localBlocks(bool lastLineEnded = true) const
    {
        FakeKuboNode::Response pieces = inPieces(repository.store.refsLocal(request({})), 50, 10);
        if (!lastLineEnded)
            pieces.chunks.last().data.chop(1);
        return pieces;
    }

    // Every handler releases its reply, so no reply left means every answer has been handled.
    void waitUntilAllRepliesHandled() { QTRY_COMPARE(client->findChildren<QNetworkReply*>().size(), 0); }

    static QList<int> countsFor(const QSignalSpy& progress, const QString& source)
    {
        QList<int> counts;
        for (const QList<QVariant>& emission : progress) {
            if (emission.at(0).toString() == source)
                counts << emission.at(1).toInt();
        }
        return counts;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
    }

    void init()
    {
        repository = Repository();
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

    void parseRefsLocalLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("cid");
        QTest::newRow("ref object") << QByteArray("{\"Ref\":\"bafya\",\"Err\":\"\"}") << u"bafya"_s;
        QTest::newRow("ref among others")
            << QByteArray("{\"Err\":\"\",\"Ref\":\"bafya\",\"Size\":3}") << u"bafya"_s;
        QTest::newRow("ref value untrimmed") << QByteArray(" {\"Ref\":\" bafya\"}\r") << u" bafya"_s;
        QTest::newRow("ref not starting like a cid") << QByteArray("{\"Ref\":\"zdj7\"}") << u"zdj7"_s;
        QTest::newRow("empty ref") << QByteArray("{\"Ref\":\"\"}") << QString();
        QTest::newRow("ref not text") << QByteArray("{\"Ref\":12}") << QString();
        QTest::newRow("object without ref") << QByteArray("{\"Cid\":\"bafya\"}") << QString();
        QTest::newRow("base32 text, blanks around") << QByteArray("\t bafyplain  ") << u"bafyplain"_s;
        QTest::newRow("version 0 text") << QByteArray("QmPlain") << u"QmPlain"_s;
        QTest::newRow("prefix is case-sensitive") << QByteArray("BAfy") << QString();
        QTest::newRow("other text") << QByteArray("zdj7Plain") << QString();
        QTest::newRow("broken object") << QByteArray("{\"Ref\":\"bafya\"") << QString();
        QTest::newRow("array") << QByteArray("[\"bafya\"]") << QString();
        QTest::newRow("blank") << QByteArray(" \r") << QString();
        QTest::newRow("UTF-8 text") << u"ba\u00e9"_s.toUtf8() << u"ba\u00e9"_s;
    }

    void parseRefsLocalLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, cid);
        QCOMPARE(::parseRefsLocalLine(line), cid);
    }

    void streamLinesAtEveryChunkSize()
    {
        const QByteArray body = "a\nbb\n\nccc\r\nlast";
        for (int chunkSize = 1; chunkSize <= body.size(); ++chunkSize) {
            QByteArray tail;
            QList<QByteArray> lines;
            for (int at = 0; at < body.size(); at += chunkSize) {
                // The lines may share the chunk's bytes: keep deep copies.
                feedStreamLines(tail, body.mid(at, chunkSize),
                    [&lines](const QByteArray& line) { lines << QByteArray(line.constData(), line.size()); });
            }
            QCOMPARE(lines, (QList<QByteArray> { "a", "bb", "", "ccc\r" }));
            QCOMPARE(tail, QByteArray("last"));
        }
    }

    void deliversOnceAfterBothHalves_data()
    {
        QTest::addColumn<bool>("pinsFirst");
        QTest::addColumn<bool>("lastLineEnded");
        QTest::newRow("pins first") << true << true;
        QTest::newRow("local blocks first") << false << true;
        // Kubo ends every line; the last one still counts when a node does not.
        QTest::newRow("last local block without a line feed") << false << false;
    }

    void deliversOnceAfterBothHalves()
    {
        QFETCH(bool, pinsFirst);
        QFETCH(bool, lastLineEnded);
        node->route(u"/pin/ls"_s, FakeKuboNode::held());
        node->route(u"/refs/local"_s, FakeKuboNode::held());
        QSignalSpy delivered(client, &IpfsClient::pinsReceived);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchUnpinned();
        QTRY_COMPARE(node->heldCount(u"/pin/ls"_s), 1);
        QTRY_COMPARE(node->heldCount(u"/refs/local"_s), 1);
        QCOMPARE(node->heldRequests(u"/pin/ls"_s).at(0).query,
            (QList<QPair<QString, QString>> { { u"type"_s, u"all"_s }, { u"names"_s, u"true"_s },
                { u"stream"_s, u"true"_s }, { u"cid-base"_s, u"base32"_s },
                { u"upgrade-cidv0-in-output"_s, u"true"_s } }));
        QVERIFY(node->heldRequests(u"/refs/local"_s).at(0).query.isEmpty());

        // The first half in: nothing is delivered yet.
        if (pinsFirst) {
            node->releaseHeld(u"/pin/ls"_s, pinListing());
            QTRY_VERIFY(countsFor(progress, u"pin/ls"_s).contains(4));
        } else {
            node->releaseHeld(u"/refs/local"_s, localBlocks(lastLineEnded));
            QTRY_VERIFY(countsFor(progress, u"refs/local"_s).contains(lastLineEnded ? 6 : 5));
        }
        QCOMPARE(delivered.count(), 0);

        node->releaseHeld(
            pinsFirst ? u"/refs/local"_s : u"/pin/ls"_s, pinsFirst ? localBlocks(lastLineEnded) : pinListing());
        QTRY_COMPARE(delivered.count(), 1);
        waitUntilAllRepliesHandled();
        QCOMPARE(delivered.count(), 1);
        QCOMPARE(errors.count(), 0);

        // Blocks and pins are told apart by multihash, whatever form each listing prints.
        const auto unpinned = delivered.at(0).at(0).value<QList<PinEntry>>();
        QCOMPARE(cidsOf(unpinned), repository.unpinned);
        for (const PinEntry& entry : unpinned) {
            QVERIFY(entry.type.isEmpty() && entry.name.isEmpty() && entry.kind.isEmpty());
            QCOMPARE(entry.refsCount, -1);
            QCOMPARE(entry.dagSize, qint64(-1));
        }

        const QList<int> localCounts = countsFor(progress, u"refs/local"_s);
        QCOMPARE(localCounts.last(), 6);
        QVERIFY(std::is_sorted(localCounts.cbegin(), localCounts.cend()));
        QCOMPARE(localCounts.count(6), 1);
    }

    void allBlocksPinnedGivesEmptyList()
    {
        // One more pin covers each loose block: a recursive CIDv0 one and a direct raw one.
        repository.store.pin(FakePinStore::nodeCid(u"loose node"_s, 0));
        repository.store.pin(FakePinStore().addRaw(u"loose leaf"_s), u"direct"_s);
        node->route(u"/pin/ls"_s, pinListing());
        node->route(u"/refs/local"_s, localBlocks());
        QSignalSpy delivered(client, &IpfsClient::pinsReceived);
        client->fetchUnpinned();
        QTRY_COMPARE(delivered.count(), 1);
        QVERIFY(delivered.at(0).at(0).value<QList<PinEntry>>().isEmpty());
    }

    void localBlocksFailureEmptiesTheList()
    {
        node->route(u"/pin/ls"_s, FakeKuboNode::held());
        node->route(u"/refs/local"_s, FakeKuboNode::kuboError(u"repo locked"_s));
        QStringList events;
        connect(client, &IpfsClient::errorOccurred, this,
            [&events](const QString& message) { events << message; });
        connect(client, &IpfsClient::pinsReceived, this,
            [&events](const QList<PinEntry>& pins) { events << u"pins %1"_s.arg(pins.size()); });
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);

        client->fetchUnpinned();
        QTRY_COMPARE(events.size(), 2);
        QVERIFY2(events.at(0).startsWith("Network error (refs/local): "_L1), qPrintable(events.at(0)));
        QCOMPARE(events.at(1), u"pins 0"_s);

        // The pin half still arrives in the same load, but no second list follows.
        QTRY_COMPARE(node->heldCount(u"/pin/ls"_s), 1);
        node->releaseHeld(u"/pin/ls"_s, pinListing());
        waitUntilAllRepliesHandled();
        QTRY_VERIFY(countsFor(progress, u"pin/ls"_s).contains(4));
        QCOMPARE(events.size(), 2);
    }

    void pinsFailureSilencesLocalBlocks()
    {
        node->route(u"/pin/ls"_s, FakeKuboNode::kuboError(u"pin listing failed"_s));
        node->route(u"/refs/local"_s, FakeKuboNode::held());
        QSignalSpy delivered(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);

        client->fetchUnpinned();
        QTRY_COMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString().startsWith("The node could not list pins: pin listing failed"_L1));

        QTRY_COMPARE(node->heldCount(u"/refs/local"_s), 1);
        node->releaseHeld(u"/refs/local"_s, localBlocks());
        waitUntilAllRepliesHandled();
        QCOMPARE(countsFor(progress, u"refs/local"_s).last(), 6);
        QCOMPARE(delivered.count(), 0);
        QCOMPARE(errors.count(), 1);
    }

    void newerLoadSilencesTheOlder()
    {
        node->route(u"/pin/ls"_s, FakeKuboNode::held());
        node->route(u"/refs/local"_s, FakeKuboNode::held());
        QSignalSpy delivered(client, &IpfsClient::pinsReceived);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);

        client->fetchUnpinned();
        client->fetchUnpinned();
        QTRY_COMPARE(node->heldCount(u"/refs/local"_s), 2);
        QTRY_COMPARE(node->heldCount(u"/pin/ls"_s), 2);
        node->releaseHeld(u"/refs/local"_s, localBlocks());
        node->releaseHeld(u"/pin/ls"_s, pinListing());
        QTRY_COMPARE(delivered.count(), 1);
        waitUntilAllRepliesHandled();

        QCOMPARE(delivered.count(), 1);
        QCOMPARE(delivered.at(0).at(0).value<QList<PinEntry>>().size(), 2);
        QCOMPARE(countsFor(progress, u"refs/local"_s).count(6), 1);
    }

    void cancelSilencesBothHalves()
    {
        node->route(u"/pin/ls"_s, FakeKuboNode::held());
        FakeKuboNode::Response slowStream = repository.store.refsLocal(request({})); // a chunk a line
        slowStream.chunks[1].delayMs = 60000; // still streaming when the cancel comes, however busy the machine
        node->route(u"/refs/local"_s, slowStream);
        QSignalSpy delivered(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);

        client->fetchUnpinned();
        QTRY_COMPARE_WITH_TIMEOUT(node->heldCount(u"/pin/ls"_s), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 30000);
        const int progressBefore = int(progress.count());

        client->cancelActiveLoading();
        waitUntilAllRepliesHandled();
        QCOMPARE(delivered.count(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(progress.count(), progressBefore);
    }
};

QTEST_MAIN(TestUnpinned)
#include "tst_unpinned.moc"
