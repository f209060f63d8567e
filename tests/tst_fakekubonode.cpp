#include <QtTest>

#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "cidtext.h"
#include "fakekubonode.h"
#include "fakepinstore.h"

#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace {

// A store whose pins come in both CID versions, a file held by two folders, and a direct pin.
struct Store {
    FakePinStore pins;
    QString shared, folderA, folderB, top, fileV0, direct;
    Store()
    {
        shared = pins.addRaw(u"shared"_s);
        folderA = pins.addNode(u"folder a"_s, 1, { shared });
        folderB = pins.addNode(u"folder b"_s, 0, { shared });
        top = pins.addNode(u"top"_s, 1, { folderA, folderB });
        fileV0 = pins.addNode(u"file"_s, 0);
        direct = pins.addNode(u"direct"_s, 1);
        pins.pin(top, u"recursive"_s, u"top"_s);
        pins.pin(fileV0);
        pins.pin(direct, u"direct"_s);
    }
};

QString ref(const QString& cid) { return u"{\"Ref\":\"%1\",\"Err\":\"\"}\n"_s.arg(cid); }

} // namespace

// The fake node is the ground every other test stands on: check it behaves like a node.
class TestFakeKuboNode : public QObject
{
    Q_OBJECT

    QNetworkReply* post(QNetworkAccessManager& manager, FakeKuboNode& node, const QString& command,
                        const QByteArray& userAgent = "Vaxel/test")
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0%2").arg(node.port()).arg(command)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
        return manager.post(request, QByteArray());
    }

    // What the node writes for one request, read off the socket: status line, headers, chunk
    // framing and trailer, all of which a network reply hides.
    static QByteArray rawAnswer(const FakeKuboNode& node, const QByteArray& target, qsizetype padTo = 0)
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), node.port());
        if (!socket.waitForConnected(5000))
            return {};
        // padTo: the size of the request line and headers, blank line included.
        const QByteArray end = "Content-Length: 0\r\n\r\n";
        QByteArray request = "POST /api/v0" + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (padTo > 0)
            request += "X-Pad: " + QByteArray(padTo - request.size() - 9 - end.size(), 'p') + "\r\n";
        socket.write(request + end);
        QByteArray answer;
        QElapsedTimer timer;
        timer.start();
        const auto complete = [&answer] {
            const qsizetype headEnd = answer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return false;
            const QByteArray head = answer.left(headEnd).toLower();
            if (!head.contains("transfer-encoding: chunked")) {
                const qsizetype at = head.indexOf("content-length: ");
                return at >= 0 && answer.size() - headEnd - 4 >= head.mid(at + 16).split('\r').first().toLongLong();
            }
            const qsizetype last = answer.indexOf("\r\n0\r\n", headEnd);
            return last >= 0 && answer.endsWith("\r\n\r\n") && answer.size() >= last + 7;
        };
        // The node answers on this thread: wait with the event loop running.
        while (!complete() && timer.elapsed() < 5000 && socket.state() == QAbstractSocket::ConnectedState) {
            QTest::qWait(5);
            answer += socket.readAll();
        }
        return answer + socket.readAll();
    }

    static QByteArray finish(QNetworkReply* reply)
    {
        if (!reply->isFinished()) {
            QSignalSpy spy(reply, &QNetworkReply::finished);
            spy.wait(5000);
        }
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }

private slots:
    void answersRoutesAndRecordsQueryInOrder()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/pin/ls"), FakeKuboNode::json("{\"Keys\":{}}"));
        QNetworkAccessManager manager;
        QNetworkReply* reply = post(manager, node, QStringLiteral("/pin/ls?type=all&arg=b&arg=a%20c"));
        QCOMPARE(finish(reply), QByteArray("{\"Keys\":{}}"));
        QCOMPARE(node.requestCount(QStringLiteral("/pin/ls")), 1);
        const auto request = node.requests(QStringLiteral("/pin/ls")).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.queryKeys(), (QStringList { QStringLiteral("type"), QStringLiteral("arg"), QStringLiteral("arg") }));
        QCOMPARE(request.queryValues(QStringLiteral("arg")), (QStringList { QStringLiteral("b"), QStringLiteral("a c") }));
        QCOMPARE(request.header("user-agent"), QByteArray("Vaxel/test"));
    }

    void refusesLikeARealNode()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/id"), FakeKuboNode::json("{}"));
        QNetworkAccessManager manager;

        QNetworkReply* browser = post(manager, node, QStringLiteral("/id"), "Mozilla/5.0");
        QCOMPARE(finish(browser), QByteArray("403 - Forbidden"));
        QCOMPARE(browser->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);

        QNetworkReply* get = manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/id").arg(node.port()))));
        QCOMPARE(finish(get), QByteArray("405 - Method Not Allowed"));

        QNetworkReply* unknown = post(manager, node, QStringLiteral("/nope"));
        finish(unknown);
        QCOMPARE(unknown->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

        QNetworkRequest withOrigin(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/id").arg(node.port())));
        withOrigin.setRawHeader("Origin", "Vaxel 1.1.4");
        QNetworkReply* badOrigin = manager.post(withOrigin, QByteArray());
        finish(badOrigin);
        QCOMPARE(badOrigin->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);

        withOrigin.setRawHeader("Origin", QStringLiteral("http://127.0.0.1:%1").arg(node.port()).toUtf8());
        QNetworkReply* goodOrigin = manager.post(withOrigin, QByteArray());
        QCOMPARE(finish(goodOrigin), QByteArray("{}"));
    }

    void streamsHoldsAndCuts()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/refs/local"), FakeKuboNode::streamed({ "{\"Ref\":\"a\"}\n{\"Re", "f\":\"b\"}\n" }, 20));
        node.route(QStringLiteral("/cat"), FakeKuboNode::held());
        FakeKuboNode::Response cut = FakeKuboNode::text("0123456789");
        cut.cutAfterBytes = 4;
        node.route(QStringLiteral("/ls"), cut);
        QNetworkAccessManager manager;

        QCOMPARE(finish(post(manager, node, QStringLiteral("/refs/local"))), QByteArray("{\"Ref\":\"a\"}\n{\"Ref\":\"b\"}\n"));

        QNetworkReply* heldReply = post(manager, node, QStringLiteral("/cat?arg=x"));
        QTRY_COMPARE(node.heldCount(QStringLiteral("/cat")), 1);
        QVERIFY(!heldReply->isFinished());
        node.releaseHeld(QStringLiteral("/cat"), FakeKuboNode::text("data"));
        QCOMPARE(finish(heldReply), QByteArray("data"));

        QNetworkReply* cutReply = post(manager, node, QStringLiteral("/ls"));
        finish(cutReply);
        QVERIFY(cutReply->error() != QNetworkReply::NoError);
    }

    void pinsAreKeyedByTheirExactCid()
    {
        Store store;
        FakeKuboNode node;
        QVERIFY(node.start());
        store.pins.serve(node);
        QNetworkAccessManager manager;

        // The other version of a pin's CID is not that pin, in either direction.
        for (const QString& otherForm : { otherCidVersionText(store.top), otherCidVersionText(store.fileV0) }) {
            QNetworkReply* refused = post(manager, node, u"/pin/rm?arg="_s + otherForm);
            QCOMPARE(finish(refused), QByteArray("{\"Message\":\"not pinned or pinned indirectly\",\"Code\":0,\"Type\":\"error\"}\n"));
            QCOMPARE(refused->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 500);
        }
        QCOMPARE(store.pins.pinnedCids(), (QStringList { store.top, store.fileV0, store.direct }));

        // Removal stops at the first failure; what came before it is gone and not told.
        QNetworkReply* partial = post(manager, node,
            u"/pin/rm?arg=%1&arg=%2&arg=%3"_s.arg(store.fileV0, store.shared, store.direct));
        QVERIFY(finish(partial).contains("not pinned or pinned indirectly"));
        QCOMPARE(store.pins.pinnedCids(), (QStringList { store.top, store.direct }));

        // A path names its CID.
        QCOMPARE(finish(post(manager, node, u"/pin/rm?arg=/ipfs/%1&arg=%2"_s.arg(store.top, store.direct))),
            u"{\"Pins\":[\"%1\",\"%2\"]}\n"_s.arg(store.top, store.direct).toUtf8());
        QVERIFY(store.pins.pinnedCids().isEmpty());
    }

    void pinListsAsKuboDoes_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("cids");
        QTest::addColumn<QByteArray>("trailer");
        Store s;
        const QString upgradedV0 = otherCidVersionText(s.fileV0);
        QTest::newRow("recursive, CIDv0 upgraded") << u"type=recursive&stream=true&cid-base=base32&upgrade-cidv0-in-output=true"_s
            << 200 << QStringList { s.top, upgradedV0 } << QByteArray();
        QTest::newRow("recursive as keyed") << u"type=recursive&stream=true"_s << 200
            << QStringList { s.top, s.fileV0 } << QByteArray();
        QTest::newRow("all, indirect blocks once each") << u"type=all&stream=true"_s << 200
            << QStringList { s.top, s.fileV0, s.direct, s.folderA, s.folderB, s.shared } << QByteArray();
        QTest::newRow("named pins in order") << u"type=recursive&stream=true&arg=%1&arg=%2"_s.arg(s.fileV0, s.top) << 200
            << QStringList { s.fileV0, s.top } << QByteArray();
        QTest::newRow("stops at the first not pinned, in the trailer")
            << u"type=recursive&stream=true&arg=%1&arg=%2&arg=%3"_s.arg(s.top, upgradedV0, s.fileV0) << 200
            << QStringList { s.top } << u"X-Stream-Error: path '%1' is not pinned"_s.arg(upgradedV0).toUtf8();
        QTest::newRow("a direct pin is no recursive one")
            << u"type=recursive&stream=true&arg=%1"_s.arg(s.direct) << 500 << QStringList() << QByteArray();
        QTest::newRow("an indirect pin by name") << u"type=all&stream=true&arg=%1"_s.arg(s.shared) << 200
            << QStringList { s.shared } << QByteArray();
    }

    void pinListsAsKuboDoes()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, cids);
        QFETCH(QByteArray, trailer);
        Store store;
        FakeKuboNode node;
        QVERIFY(node.start());
        store.pins.serve(node);
        const QByteArray answer = rawAnswer(node, "/pin/ls?" + query.toLatin1());
        QTEST(answer.mid(9, 3).toInt(), "status");
        QStringList listed;
        const qsizetype bodyStart = answer.indexOf("\r\n\r\n") + 4;
        for (const QByteArray& line : answer.mid(bodyStart).split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line.mid(line.indexOf('{'))).object();
            if (object.contains(u"Cid"_s))
                listed << object.value(u"Cid"_s).toString();
        }
        QCOMPARE(listed, cids);
        QVERIFY(answer.contains("Trailer: X-Stream-Error"));
        if (trailer.isEmpty())
            QVERIFY(!answer.contains("X-Stream-Error: "));
        else
            QVERIFY2(answer.contains("\r\n0\r\n" + trailer + "\r\n\r\n"), answer.constData());
    }

    void refsAsKuboWalksThem()
    {
        Store store;
        FakeKuboNode node;
        QVERIFY(node.start());
        store.pins.serve(node);
        QNetworkAccessManager manager;

        // Every block as a raw CIDv1, whatever it was added as.
        QByteArray local;
        for (const QString& cid : { store.shared, store.folderA, store.folderB, store.top, store.fileV0, store.direct })
            local += ref(cidV1Text(kRawCodec, cidMultihash(cid))).toUtf8();
        QCOMPARE(finish(post(manager, node, u"/refs/local"_s)), local);

        // The shared file once per folder that holds it, unless unique.
        const QString walk = u"/refs?arg=%1&recursive=true"_s.arg(store.top);
        QCOMPARE(finish(post(manager, node, walk)),
            (ref(store.folderA) + ref(store.shared) + ref(store.folderB) + ref(store.shared)).toUtf8());
        QCOMPARE(finish(post(manager, node, walk + u"&unique=true"_s)),
            (ref(store.folderA) + ref(store.shared) + ref(store.folderB)).toUtf8());
        QCOMPARE(finish(post(manager, node, u"/refs?arg=%1"_s.arg(store.top))),
            (ref(store.folderA) + ref(store.folderB)).toUtf8());

        // A block gone from the repository ends the walk with an error line.
        store.pins.dropBlock(store.folderB);
        QCOMPARE(finish(post(manager, node, walk)),
            (ref(store.folderA) + ref(store.shared) + ref(store.folderB)
                + u"{\"Ref\":\"\",\"Err\":\"block was not found locally (offline): ipld: could not find %1\"}\n"_s.arg(store.folderB))
                .toUtf8());
    }

    void refusesARequestLineAsLongAsKuboDoes()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(u"/id"_s, FakeKuboNode::json("{}"));
        QVERIFY(rawAnswer(node, "/id", FakeKuboNode::kMaxHeadBytes).startsWith("HTTP/1.1 200 "));
        const QByteArray refused = rawAnswer(node, "/id", FakeKuboNode::kMaxHeadBytes + 1);
        QVERIFY2(refused.startsWith("HTTP/1.1 431 Request Header Fields Too Large\r\n"), refused.left(100).constData());
        QVERIFY(refused.endsWith("\r\n\r\n431 Request Header Fields Too Large"));
        QCOMPARE(node.requestCount(u"/id"_s), 1);
    }

    void catAnnouncesItsLength()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        FakeKuboNode::Response cut = FakeKuboNode::text("0123456789");
        cut.cutAfterBytes = 4;
        node.route(u"/cat"_s, cut);
        const QByteArray answer = rawAnswer(node, "/cat?arg=x");
        QVERIFY2(answer.contains("\r\nX-Content-Length: 10\r\n"), answer.constData());
        QVERIFY(answer.endsWith("\r\n\r\n0123"));
    }

    void recordsMultipartParts()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/add"), FakeKuboNode::json("{}"));
        QNetworkAccessManager manager;
        auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"file\"; filename=\"a.txt\""));
        part.setBody("hello\r\nworld");
        multipart->append(part);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/add").arg(node.port())));
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Vaxel/test"));
        QNetworkReply* reply = manager.post(request, multipart);
        multipart->setParent(reply);
        finish(reply);
        const auto parts = node.requests(QStringLiteral("/add")).first().parts;
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.first().body, QByteArray("hello\r\nworld"));
        QVERIFY(parts.first().header("content-disposition").contains("filename=\"a.txt\""));
    }
};

QTEST_MAIN(TestFakeKuboNode)
#include "tst_fakekubonode.moc"
