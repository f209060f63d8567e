#include <QtTest>

#include <QNetworkReply>
#include <QPointer>
#include <QThread>

#include <algorithm>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "pinlistparser.h"

#include <memory>

Q_DECLARE_METATYPE(FakeKuboNode::Response)

namespace {

QByteArray pinLine(const QByteArray& cid, const QByteArray& type, const QByteArray& name = {})
{
    QByteArray line = "{\"Cid\":\"" + cid + "\",";
    if (!name.isEmpty())
        line += "\"Name\":\"" + name + "\",";
    return line + "\"Type\":\"" + type + "\"}\n";
}

QStringList cidsOf(const QList<PinEntry>& pins)
{
    QStringList cids;
    for (const PinEntry& pin : pins)
        cids << pin.cid;
    return cids;
}

QList<PinEntry> pinsOf(const QSignalSpy& spy, int index = 0)
{
    return spy.size() > index ? spy.at(index).first().value<QList<PinEntry>>() : QList<PinEntry>();
}

QList<int> countsOf(const QSignalSpy& progress)
{
    QList<int> counts;
    for (const QList<QVariant>& arguments : progress)
        counts << arguments.at(1).toInt();
    return counts;
}

// A worker hands its result to the GUI thread as a queued call on its thread object, which is then
// deleted. This notes the thread objects that got such a call.
class HandOverWatch : public QObject
{
public:
    HandOverWatch() { QCoreApplication::instance()->installEventFilter(this); }
    ~HandOverWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

    QList<QPointer<QObject>> threads;

    // Some worker handed over, and every one that did is gone: its hand-over has run.
    bool handedOver() const
    {
        return !threads.isEmpty()
            && std::all_of(threads.cbegin(), threads.cend(),
                [](const QPointer<QObject>& thread) { return thread.isNull(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall && qobject_cast<QThread*>(watched)
            && !threads.contains(watched))
            threads.append(watched);
        return false;
    }
};

} // namespace

// Loading the pin list: streaming progress, the worker's parse, epochs, cancelling, the composite filter.
class TestPinLoading : public QObject
{
    Q_OBJECT

    QTemporaryDir settingsDir;
    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    void waitForRepliesReleased(IpfsClient* of = nullptr)
    {
        IpfsClient* target = of ? of : client;
        QTRY_VERIFY(target->findChildren<QNetworkReply*>().isEmpty());
    }

    // One load with the given answer; returns once pinsReceived or errorOccurred came and the reply is gone.
    void load(const FakeKuboNode::Response& response, QSignalSpy& pins, QSignalSpy& errors)
    {
        node->route(QStringLiteral("/pin/ls"), response);
        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_VERIFY(!pins.isEmpty() || !errors.isEmpty());
        waitForRepliesReleased();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Test executables run in parallel: keep this one's settings store to itself.
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
        appSettings().clear();
        QVERIFY(appSettings().fileName().startsWith(settingsDir.path()));
    }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        client = nullptr;
        delete node;
    }

    void streamsProgressThenDelivers()
    {
        const QByteArray second = pinLine("bafyB", "direct");
        node->route(QStringLiteral("/pin/ls"),
            FakeKuboNode::streamed({ pinLine("bafyA", "recursive", "photos") + "\n  \n" + second.left(10),
                                       second.mid(10), pinLine("QmC", "indirect") },
                30));
        QStringList order;
        connect(client, &IpfsClient::streamEntriesLoaded, this,
            [&order](const QString& source, int count) { order << source + QString::number(count); });
        connect(client, &IpfsClient::pinsReceived, this, [&order] { order << QStringLiteral("pins"); });
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);

        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QVERIFY(pins.wait());
        // However the pieces coalesce on their way (a busy machine reads several at once): blank lines
        // are not counted, a count is reported only when it grew, then once more on delivery.
        QVERIFY2(order.size() >= 3, qPrintable(order.join(u' ')));
        QCOMPARE(order.mid(order.size() - 3),
            (QStringList { QStringLiteral("pin/ls3"), QStringLiteral("pin/ls3"), QStringLiteral("pins") }));
        for (qsizetype i = 1; i <= order.size() - 3; ++i)
            QVERIFY2(order.at(i - 1) < order.at(i), qPrintable(order.join(u' ')));
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), true);

        const QList<PinEntry> entries = pinsOf(pins);
        QCOMPARE(cidsOf(entries),
            (QStringList { QStringLiteral("bafyA"), QStringLiteral("bafyB"), QStringLiteral("QmC") }));
        QCOMPARE(entries.at(0).type, QStringLiteral("recursive"));
        QCOMPARE(entries.at(0).name, QStringLiteral("photos"));
        QCOMPARE(entries.at(1).name, QString());
        QCOMPARE(entries.at(2).type, QStringLiteral("indirect"));
        for (const PinEntry& entry : entries) {
            QCOMPARE(entry.refsCount, -1);
            QCOMPARE(entry.dagSize, qint64(-1));
            QVERIFY(entry.kind.isEmpty());
        }
        waitForRepliesReleased();
    }

    // Once delivered, a list is the receiver's alone: a value written into it on the next turn of
    // the event loop copies nothing (with a million rows that copy holds the window a good while).
    void aDeliveredListIsTheReceiversAlone_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("one listing") << QStringLiteral("recursive");
        QTest::newRow("two listings joined") << QStringLiteral("recursive+direct");
    }

    void aDeliveredListIsTheReceiversAlone()
    {
        QFETCH(QString, type);
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::streamed({ pinLine("bafyA", "recursive") }));
        QList<PinEntry> kept;
        bool checked = false;
        bool sharedOnNextTurn = true;
        connect(client, &IpfsClient::pinsReceived, this, [&](const QList<PinEntry>& pins) {
            kept = pins;
            QTimer::singleShot(0, this, [&] {
                sharedOnNextTurn = !kept.isDetached();
                checked = true;
            });
        });
        client->fetchPins(type, QStringLiteral("base32"), true);
        QTRY_VERIFY(checked);
        QCOMPARE(cidsOf(kept), QStringList { QStringLiteral("bafyA") });
        QVERIFY(!sharedOnNextTurn);
        waitForRepliesReleased();
        disconnect(client, &IpfsClient::pinsReceived, this, nullptr);
    }

    void lastLineWithoutLineFeed_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("entries");
        QTest::newRow("valid entry counts") << pinLine("bafyZ", "direct").trimmed() << 3 << 3;
        QTest::newRow("wrapped entry counts")
            << QByteArray(R"({"PinLsObject":{"Cid":"bafyZ","Type":"direct"}})") << 3 << 3;
        QTest::newRow("truncated line does not") << QByteArray("{\"Cid\":\"bafyZ\",\"Ty") << 2 << 2;
        QTest::newRow("entry without CID does not") << QByteArray(R"({"Cid":"","Type":"direct"})") << 2 << 2;
        QTest::newRow("blank") << QByteArray(" \t ") << 2 << 2;
    }

    void lastLineWithoutLineFeed()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, count);
        QFETCH(int, entries);
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        load(FakeKuboNode::streamed(
                 { pinLine("bafyA", "recursive") + pinLine("bafyB", "recursive"), tail }, 20),
            pins, errors);
        QVERIFY(errors.isEmpty());
        QCOMPARE(pins.size(), 1);
        QCOMPARE(pinsOf(pins).size(), entries);
        QCOMPARE(progress.last().at(1).toInt(), count);
    }

    void keysObjectForm_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray keys
            = R"({"bafyC":{"Type":"recursive","Name":"c"},"bafyA":{"Type":"direct"},"QmB":{"Type":"indirect"}})";
        QTest::newRow("one line, no line feed") << QByteArray("{\"Keys\":" + keys + "}");
        QTest::newRow("one line") << QByteArray("{\"Keys\":" + keys + "}\n");
        QTest::newRow("pretty printed") << QByteArray(
            "{\n  \"Keys\": {\n    \"bafyC\": {\"Type\": \"recursive\", \"Name\": \"c\"},\n"
            "    \"bafyA\": {\"Type\": \"direct\"},\n    \"QmB\": {\"Type\": \"indirect\"}\n  }\n}\n");
        QTest::newRow("wrapped") << QByteArray("{\"PinLsList\":{\"Keys\":" + keys + "}}\n");
    }

    void keysObjectForm()
    {
        QFETCH(QByteArray, body);
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        load(FakeKuboNode::json(body), pins, errors);
        QCOMPARE(pins.size(), 1);
        const QList<PinEntry> entries = pinsOf(pins);
        // In key order.
        QCOMPARE(cidsOf(entries),
            (QStringList { QStringLiteral("QmB"), QStringLiteral("bafyA"), QStringLiteral("bafyC") }));
        QCOMPARE(entries.at(2).type, QStringLiteral("recursive"));
        QCOMPARE(entries.at(2).name, QStringLiteral("c"));
        QCOMPARE(entries.at(0).refsCount, -1);
        // The number of keys, whatever lines the object was printed on.
        QCOMPARE(progress.last().at(1).toInt(), 3);
    }

    void wrappedLineForm()
    {
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        load(FakeKuboNode::json(R"({"PinLsObject":{"Cid":"bafyA","Type":"recursive","Name":"n"}})"
                                "\n"
                 + pinLine("bafyB", "direct", "m")),
            pins, errors);
        const QList<PinEntry> entries = pinsOf(pins);
        QCOMPARE(cidsOf(entries), (QStringList { QStringLiteral("bafyA"), QStringLiteral("bafyB") }));
        QCOMPARE(entries.at(0).type, QStringLiteral("recursive"));
        QCOMPARE(entries.at(0).name, QStringLiteral("n"));
        QCOMPARE(entries.at(1).name, QStringLiteral("m"));
    }

    void parsePinLsLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("cid");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QByteArray(R"({"Cid":"bafyA","Type":"recursive","Name":"n"})") << true
                               << QStringLiteral("bafyA") << QStringLiteral("recursive")
                               << QStringLiteral("n");
        QTest::newRow("wrapped") << QByteArray(R"({"PinLsObject":{"Cid":"bafyA","Type":"direct"}})") << true
                                 << QStringLiteral("bafyA") << QStringLiteral("direct") << QString();
        QTest::newRow("not trimmed") << QByteArray(R"({"Cid":" bafyA ","Name":" n "})") << true
                                     << QStringLiteral(" bafyA ") << QString() << QStringLiteral(" n ");
        QTest::newRow("non-string members") << QByteArray(R"({"Cid":"bafyA","Type":1,"Name":null})") << true
                                            << QStringLiteral("bafyA") << QString() << QString();
        QTest::newRow("CID not a string")
            << QByteArray(R"({"Cid":5})") << false << QString() << QString() << QString();
        QTest::newRow("no CID member")
            << QByteArray(R"({"Type":"recursive"})") << false << QString() << QString() << QString();
        QTest::newRow("wrapper not an object") << QByteArray(R"({"PinLsObject":"bafyA","Cid":"bafyB"})")
                                               << false << QString() << QString() << QString();
        QTest::newRow("array") << QByteArray(R"([{"Cid":"bafyA"}])") << false << QString() << QString()
                               << QString();
        QTest::newRow("not JSON") << QByteArray("bafyA") << false << QString() << QString() << QString();
        QTest::newRow("invalid UTF-8")
            << QByteArray("{\"Cid\":\"\xff\xfe\"}") << false << QString() << QString() << QString();
    }

    void parsePinLsLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, accepted);
        QFETCH(QString, cid);
        QFETCH(QString, type);
        QFETCH(QString, name);
        PinEntry entry;
        entry.refsCount = 7;
        QCOMPARE(::parsePinLsLine(line, &entry), accepted);
        QCOMPARE(entry.refsCount, 7); // left as the caller set it
        if (accepted) {
            QCOMPARE(entry.cid, cid);
            QCOMPARE(entry.type, type);
            QCOMPARE(entry.name, name);
        }
    }

    // The line reader has a quick path for plain lines; whatever the line, it must agree with reading
    // the line as a JSON document.
    void parsePinLsLineAgreesWithJsonReading()
    {
        const auto reference = [](const QByteArray& line, PinEntry* entry) {
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (!document.isObject())
                return false;
            const QJsonObject object = document.object();
            QJsonObject source;
            if (object.contains(QLatin1String("PinLsObject")))
                source = object.value(QLatin1String("PinLsObject")).toObject();
            else if (object.contains(QLatin1String("Cid")))
                source = object;
            else
                return false;
            entry->cid = source.value(QLatin1String("Cid")).toString();
            entry->type = source.value(QLatin1String("Type")).toString();
            entry->name = source.value(QLatin1String("Name")).toString();
            return !entry->cid.isEmpty();
        };
        const QList<QByteArray> seeds {
            pinLine("bafyA", "recursive", "a name").trimmed(),
            R"( { "Cid" : "bafyA" , "Type":"direct" } )",
            "{\"Cid\":\"bafyA\",\"Name\":\"caf\xc3\xa9\",\"Type\":\"recursive\"}",
            "{\"Cid\":\"ba\\\"fy\",\"Name\":\"\\u00e9\\n\",\"Type\":\"recursive\"}",
            R"({"Cid":"bafyA","Cid":"bafyB"})",
            R"({"Cid":"bafyA","Size":12,"Extra":{"a":[1,2]}})",
            R"({"PinLsObject":{"Cid":"bafyA","Type":"direct","Name":"n"}})",
            R"({"Type":"recursive","Name":"no cid"})",
            R"({"Cid":"","Type":"recursive"})",
            "{}",
        };
        const QByteArray alphabet("{}[]\":,\\ \t\r\n\v0aCidTypeName\x7f\xc3\xa9\xff", 30);
        QRandomGenerator random(20261210);
        for (int round = 0; round < 20000; ++round) {
            QByteArray line = seeds.at(random.bounded(int(seeds.size())));
            const int mutations = random.bounded(4);
            for (int m = 0; m < mutations && !line.isEmpty(); ++m) {
                const int at = random.bounded(int(line.size()));
                const char byte = alphabet.at(random.bounded(int(alphabet.size())));
                switch (random.bounded(3)) {
                case 0:
                    line.remove(at, 1);
                    break;
                case 1:
                    line.insert(at, byte);
                    break;
                default:
                    line[at] = byte;
                    break;
                }
            }
            PinEntry expected;
            expected.cid = expected.type = expected.name = QStringLiteral("unset");
            PinEntry actual = expected;
            const bool accepted = reference(line, &expected);
            QCOMPARE(::parsePinLsLine(line, &actual), accepted);
            QCOMPARE(actual.cid, expected.cid);
            QCOMPARE(actual.type, expected.type);
            QCOMPARE(actual.name, expected.name);
        }
    }

    void lineCounterIsIndependentOfChunking()
    {
        const QByteArray stream
            = pinLine("a", "r") + "\n \r\n" + pinLine("b", "r") + "  x\n" + pinLine("c", "r") + "tail";
        PinLineCounter whole;
        QCOMPARE(whole.feed(stream), 4);
        QCOMPARE(whole.tailStart(), stream.size() - 4);
        for (qsizetype cut = 1; cut < 9; ++cut) {
            PinLineCounter counter;
            int total = 0;
            for (qsizetype at = 0; at < stream.size(); at += cut)
                total += counter.feed(QByteArrayView(stream).sliced(at, qMin(cut, stream.size() - at)));
            QCOMPARE(total, 4);
            QCOMPARE(counter.tailStart(), whole.tailStart());
        }
    }

    void twoLoadsInARow()
    {
        int served = 0;
        node->route(QStringLiteral("/pin/ls"), [&served](const FakeKuboNode::Request&) {
            return ++served == 1 ? FakeKuboNode::held()
                                 : FakeKuboNode::json(pinLine("bafySecond", "recursive"));
        });
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/pin/ls")), 1);
        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QVERIFY(pins.wait());
        QCOMPARE(cidsOf(pinsOf(pins)), QStringList { QStringLiteral("bafySecond") });

        // The first load's answer arrives late: chunks and result are ignored.
        node->releaseHeld(QStringLiteral("/pin/ls"),
            FakeKuboNode::streamed({ pinLine("bafyFirst", "recursive"), pinLine("bafyOld", "direct") }, 10));
        waitForRepliesReleased();
        QVERIFY(!pins.wait(300));
        QCOMPARE(pins.size(), 1);
        QCOMPARE(status.size(), 1);
        QCOMPARE(countsOf(progress), (QList<int> { 1, 1 }));
        QVERIFY(errors.isEmpty());
    }

    void cancelWhileStreaming()
    {
        QList<QByteArray> pieces;
        for (int i = 0; i < 20; ++i)
            pieces << pinLine("bafy" + QByteArray::number(i), "recursive");
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::streamed(pieces, 25));
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);

        client->fetchPins(QStringLiteral("all"), QStringLiteral("base32"), true);
        QVERIFY(progress.wait());
        client->cancelActiveLoading();
        const qsizetype seen = progress.size();
        waitForRepliesReleased();
        QVERIFY(!pins.wait(600));
        QCOMPARE(progress.size(), seen);
        QVERIFY(status.isEmpty());
        QVERIFY(errors.isEmpty());
    }

    // A receiver of the delivery's progress signal that begins a new load outdates the list being
    // delivered: it is not emitted after that.
    void loadBegunByAReceiverOfTheDelivery()
    {
        int served = 0;
        node->route(QStringLiteral("/pin/ls"), [&served](const FakeKuboNode::Request&) {
            return FakeKuboNode::json(pinLine(++served == 1 ? "bafyOld" : "bafyNew", "recursive"));
        });
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        bool replyFinished = false;
        bool reloaded = false;
        connect(client, &IpfsClient::connectionStatusChanged, this, [&] { replyFinished = true; });
        connect(client, &IpfsClient::streamEntriesLoaded, this, [&] {
            if (!replyFinished || reloaded)
                return;
            reloaded = true;
            client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        });

        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_COMPARE(pins.size(), 1);
        waitForRepliesReleased();
        QTest::qWait(100);
        QVERIFY(reloaded);
        QCOMPARE(pins.size(), 1);
        QCOMPARE(cidsOf(pinsOf(pins)), QStringList { QStringLiteral("bafyNew") });
    }

    // A large body is read a slice per turn of the event loop (as much as has come, at most a slice);
    // a load begun or a cancel between two slices leaves the rest of it unread and unreported.
    void newLoadBetweenSlicesOfALargeBody_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancel") << true;
        QTest::newRow("new load") << false;
    }

    void newLoadBetweenSlicesOfALargeBody()
    {
        QFETCH(bool, cancel);
        // Shared with the serving thread; on the heap, as no stack frame of this thread may be reused
        // for it while that thread could still be touching it.
        struct Served {
            QByteArray large;
            QAtomicInt requests = 0;
        };
        const auto served = std::make_shared<Served>();
        for (int i = 0; i < 80000; ++i)
            served->large += pinLine(
                "bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi" + QByteArray::number(i),
                "recursive");
        // Served from a thread of its own, so that the body can arrive while this thread is busy.
        QThread serving;
        auto* remote = new FakeKuboNode;
        connect(&serving, &QThread::finished, remote, &QObject::deleteLater);
        remote->route(QStringLiteral("/pin/ls"), [served](const FakeKuboNode::Request&) {
            if (served->requests.fetchAndAddOrdered(1) > 0)
                return FakeKuboNode::json(pinLine("bafyNext", "direct"));
            QThread::msleep(300); // lets the test thread see the request before the answer
            return FakeKuboNode::json(served->large);
        });
        // Listening before the move: the thread then only serves.
        QVERIFY(remote->start());
        const quint16 port = remote->port();
        remote->moveToThread(&serving);
        serving.start();
        auto stopServing = qScopeGuard([&] {
            serving.quit();
            serving.wait();
        });
        client->setEndpoint(QStringLiteral("127.0.0.1"), port);

        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        QList<int> counts;
        bool leftUnread = false;
        connect(client, &IpfsClient::streamEntriesLoaded, this, [&](const QString&, int count) {
            counts << count;
            if (counts.size() > 1)
                return;
            const QList<QNetworkReply*> replies = client->findChildren<QNetworkReply*>();
            leftUnread = replies.size() == 1
                && (replies.first()->bytesAvailable() > 0 || !replies.first()->isFinished());
            if (cancel)
                client->cancelActiveLoading();
            else
                client->fetchPins(QStringLiteral("direct"), QStringLiteral("base32"), true);
        });

        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_COMPARE_WITH_TIMEOUT(served->requests.loadAcquire(), 1, 10000);
        QThread::msleep(1500); // busy: much of the body comes in meanwhile
        QTRY_VERIFY(!counts.isEmpty());
        QVERIFY2(leftUnread, "nothing of the body was left to read");
        if (!cancel) {
            QTRY_COMPARE(pins.size(), 1);
            QCOMPARE(cidsOf(pinsOf(pins)), QStringList { QStringLiteral("bafyNext") });
            QCOMPARE(counts.mid(1), (QList<int> { 1, 1 }));
        }
        waitForRepliesReleased();
        QTest::qWait(200); // a worker result of the large body would have come by now
        QCOMPARE(pins.size(), cancel ? 0 : 1);
        QCOMPARE(counts.size(), cancel ? 1 : 3);
        QVERIFY(errors.isEmpty());
        QCOMPARE(status.size(), cancel ? 0 : 1);
    }

    void cancelAbortsHeldLoadSilently()
    {
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        client->fetchPins(QStringLiteral("recursive+direct"), QStringLiteral("base32"), true);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/pin/ls")), 2);
        client->cancelActiveLoading();
        waitForRepliesReleased();
        QVERIFY(pins.isEmpty());
        QVERIFY(errors.isEmpty());
        QVERIFY(status.isEmpty());

        // The client is ready for the next load at once.
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::json(pinLine("bafyA", "recursive")));
        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QVERIFY(pins.wait());
        QCOMPARE(cidsOf(pinsOf(pins)), QStringList { QStringLiteral("bafyA") });
    }

    void compositeMerge_data()
    {
        QTest::addColumn<QString>("later");
        QTest::newRow("direct delivered later") << QStringLiteral("direct");
        QTest::newRow("recursive delivered later") << QStringLiteral("recursive");
    }

    void compositeMerge()
    {
        QFETCH(QString, later);
        const QString earlier
            = later == QLatin1String("direct") ? QStringLiteral("recursive") : QStringLiteral("direct");
        const QHash<QString, QByteArray> bodies {
            { QStringLiteral("recursive"),
                pinLine("bafyShared", "recursive") + pinLine("QmUpper", "recursive")
                    + pinLine("bafyB", "recursive") },
            { QStringLiteral("direct"),
                pinLine("bafyD", "direct") + pinLine("bafyShared", "direct") + pinLine("QmA", "direct") },
        };
        node->route(QStringLiteral("/pin/ls"), [&](const FakeKuboNode::Request& request) {
            const QString type = request.queryValue(QStringLiteral("type"));
            return type == later ? FakeKuboNode::held() : FakeKuboNode::json(bodies.value(type));
        });
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy progress(client, &IpfsClient::streamEntriesLoaded);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);

        client->fetchPins(QStringLiteral("recursive+direct"), QStringLiteral("base32"), true);
        QTRY_COMPARE(node->requestCount(QStringLiteral("/pin/ls")), 2);
        QStringList types;
        for (const FakeKuboNode::Request& request : node->requests(QStringLiteral("/pin/ls")))
            types << request.queryValue(QStringLiteral("type"));
        QCOMPARE(types, (QStringList { QStringLiteral("recursive"), QStringLiteral("direct") }));

        // The streamed count changes once to 3; a second 3 is the earlier batch's delivery.
        QTRY_COMPARE(countsOf(progress).count(3), 2);
        QVERIFY(pins.isEmpty());
        node->releaseHeld(QStringLiteral("/pin/ls"), FakeKuboNode::json(bodies.value(later)));
        QVERIFY(pins.wait());

        const QList<PinEntry> merged = pinsOf(pins);
        // Sorted by code unit: upper-case CIDs first.
        QCOMPARE(cidsOf(merged),
            (QStringList { QStringLiteral("QmA"), QStringLiteral("QmUpper"), QStringLiteral("bafyB"),
                QStringLiteral("bafyD"), QStringLiteral("bafyShared") }));
        QCOMPARE(merged.last().type, later);
        QCOMPARE(status.size(), 2);
        waitForRepliesReleased();
        QCOMPARE(pins.size(), 1);
    }

    void compositeBatchFails_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::newRow("direct fails") << QStringLiteral("direct");
        QTest::newRow("recursive fails") << QStringLiteral("recursive");
    }

    void compositeBatchFails()
    {
        QFETCH(QString, failing);
        node->route(QStringLiteral("/pin/ls"), [failing](const FakeKuboNode::Request& request) {
            const QString type = request.queryValue(QStringLiteral("type"));
            if (type == failing)
                return FakeKuboNode::kuboError(QStringLiteral("pin listing failed"));
            return FakeKuboNode::json(pinLine("bafyB", type.toUtf8()) + pinLine("bafyA", type.toUtf8()));
        });
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);

        client->fetchPins(QStringLiteral("recursive+direct"), QStringLiteral("base32"), true);
        QTRY_VERIFY(!pins.isEmpty() && !errors.isEmpty());
        waitForRepliesReleased();
        QCOMPARE(pins.size(), 1);
        QCOMPARE(cidsOf(pinsOf(pins)), (QStringList { QStringLiteral("bafyA"), QStringLiteral("bafyB") }));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().first().toString().startsWith(
            QStringLiteral("The node could not list pins: pin listing failed")));
        // The node answered both halves, one with an error: it is connected.
        QVERIFY(!status.contains(QList<QVariant> { false }));
        QVERIFY(status.contains(QList<QVariant> { true }));
    }

    void workerResultAfterClientDestroyed()
    {
        // Escaped names take the slower JSON reading: the parse outlasts the client by far.
        QByteArray body;
        for (int i = 0; i < 60000; ++i)
            body += pinLine(
                "bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi" + QByteArray::number(i),
                "recursive", "a\\u0020name");
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::json(body));

        HandOverWatch watch;
        auto* doomed = new IpfsClient;
        doomed->setEndpoint(node->host(), node->port());
        // The worker starts right after this signal; a deletion queued from it runs before the
        // worker's result, which is queued behind it, however long the window waits for a core.
        QSignalSpy delivered(doomed, &IpfsClient::pinsReceived);
        int handOversBeforeDelete = -1;
        int deliveredBeforeDelete = -1;
        connect(doomed, &IpfsClient::connectionStatusChanged, this, [&] {
            if (handOversBeforeDelete >= 0 || !doomed)
                return;
            handOversBeforeDelete = 0;
            QMetaObject::invokeMethod(
                this,
                [&] {
                    handOversBeforeDelete = int(watch.threads.size());
                    deliveredBeforeDelete = int(delivered.count());
                    delete std::exchange(doomed, nullptr);
                },
                Qt::QueuedConnection);
        });
        doomed->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QTRY_VERIFY_WITH_TIMEOUT(!doomed, 20000);
        QCOMPARE(deliveredBeforeDelete, 0);

        // The result comes back with nobody to take it and is dropped. A delivery into the deleted
        // client would be a use after free: the address sanitizer build stops there. (Workers of
        // earlier tests may hand over meanwhile too: ours is one more.)
        QTRY_VERIFY_WITH_TIMEOUT(watch.threads.size() > handOversBeforeDelete && watch.handedOver(), 20000);

        // A live client still gets the same work's result.
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        client->fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QVERIFY(pins.wait(20000));
        QCOMPARE(pinsOf(pins).size(), 60000);
    }

    void typeQuery_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("cidBase");
        QTest::addColumn<bool>("upgrade");
        QTest::addColumn<QString>("query");
        QTest::newRow("empty type")
            << QString() << QStringLiteral("base32") << true
            << QStringLiteral("type=all&names=true&stream=true&cid-base=base32&upgrade-cidv0-in-output=true");
        QTest::newRow("all")
            << QStringLiteral("all") << QStringLiteral("base32") << true
            << QStringLiteral("type=all&names=true&stream=true&cid-base=base32&upgrade-cidv0-in-output=true");
        QTest::newRow("indirect, no base")
            << QStringLiteral("indirect") << QString() << false
            << QStringLiteral("type=indirect&names=true&stream=true&cid-base=&upgrade-cidv0-in-output=false");
        QTest::newRow("case matters")
            << QStringLiteral("Recursive+Direct") << QStringLiteral("base58btc") << true
            << QStringLiteral("type=Recursive+Direct&names=true&stream=true&cid-base=base58btc"
                              "&upgrade-cidv0-in-output=true");
    }

    void typeQuery()
    {
        QFETCH(QString, type);
        QFETCH(QString, cidBase);
        QFETCH(bool, upgrade);
        QFETCH(QString, query);
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::json(QByteArray()));
        client->fetchPins(type, cidBase, upgrade);
        QTRY_COMPARE(node->requestCount(QStringLiteral("/pin/ls")), 1);
        QStringList received;
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/pin/ls")).first();
        for (const auto& item : request.query)
            received << item.first + QLatin1Char('=') + item.second;
        QCOMPARE(received.join(QLatin1Char('&')), query);
        waitForRepliesReleased();
    }

    void badBodies_data()
    {
        QTest::addColumn<FakeKuboNode::Response>("response");
        QTest::addColumn<QString>("failure"); // the error's start; empty when the body is data
        QTest::addColumn<bool>("connected");

        QTest::newRow("not JSON") << FakeKuboNode::text("<html><body>oops</body></html>\n") << QString() << true;
        QTest::newRow("wrong type") << FakeKuboNode::json("[1,2,3]\n\"text\"\n42\n") << QString() << true;
        QTest::newRow("truncated") << FakeKuboNode::json("{\"Cid\":\"bafyA\",\"Type\":\"recur") << QString() << true;
        QTest::newRow("empty") << FakeKuboNode::json(QByteArray()) << QString() << true;
        QTest::newRow("keys not an object") << FakeKuboNode::json(R"({"Keys":[1,2]})") << QString() << true;
        QTest::newRow("deeply nested")
            << FakeKuboNode::json(QByteArray(100000, '[') + QByteArray(100000, ']')) << QString() << true;
        QTest::newRow("binary") << FakeKuboNode::json(QByteArray("\0\xff\n\x01{\"Cid\":\0}\n", 14)) << QString() << true;
        QTest::newRow("HTTP error with body")
            << FakeKuboNode::kuboError(QStringLiteral("context canceled"))
            << QStringLiteral("The node could not list pins: context canceled") << true;
        QTest::newRow("forbidden") << FakeKuboNode::text("403 - Forbidden", 403)
                                   << QStringLiteral("The node could not list pins: 403 - Forbidden") << true;
        FakeKuboNode::Response dropped
            = FakeKuboNode::streamed({ pinLine("bafyA", "recursive"), pinLine("bafyB", "recursive") }, 10);
        dropped.cutAfterBytes = 60;
        // A cut connection is the network's failure: the node is not known to be there.
        QTest::newRow("dropped connection") << dropped << QStringLiteral("Network error: ") << false;
    }

    void badBodies()
    {
        QFETCH(FakeKuboNode::Response, response);
        QFETCH(QString, failure);
        QFETCH(bool, connected);
        QSignalSpy pins(client, &IpfsClient::pinsReceived);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        QSignalSpy status(client, &IpfsClient::connectionStatusChanged);
        load(response, pins, errors);
        QVERIFY(!pins.wait(100));
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.first().first().toBool(), connected);
        if (!failure.isEmpty()) {
            QVERIFY(pins.isEmpty());
            QCOMPARE(errors.size(), 1);
            const QString error = errors.first().first().toString();
            QVERIFY2(error.startsWith(failure), qPrintable(error));
        } else {
            QVERIFY(errors.isEmpty());
            QCOMPARE(pins.size(), 1);
            QVERIFY(pinsOf(pins).isEmpty());
        }
    }

};

QTEST_MAIN(TestPinLoading)
#include "tst_pinloading.moc"
