#include <QtTest>

#include <QRandomGenerator>

#include "fakekubonode.h"
#include "ipfsclient.h"
#include "pinlistparser.h"
#include "testsettings.h"

namespace {

PinEntry pin(const QString& cid, const QString& type = QStringLiteral("recursive"), const QString& name = {})
{
    PinEntry entry;
    entry.cid = cid;
    entry.type = type;
    entry.name = name;
    return entry;
}

QStringList describe(const QList<PinEntry>& pins)
{
    QStringList texts;
    for (const PinEntry& entry : pins)
        texts.append(entry.cid + u'/' + entry.type + u'/' + entry.name);
    return texts;
}

// What the combined load promises: by CID in code unit order, one entry per CID, the later wins.
QList<PinEntry> referenceOrder(const QList<PinEntry>& pins)
{
    QMap<QString, PinEntry> byCid;
    for (const PinEntry& entry : pins) {
        if (!entry.cid.isEmpty())
            byCid.insert(entry.cid, entry);
    }
    return byCid.values();
}

QByteArray line(const PinEntry& entry)
{
    QJsonObject object { { QStringLiteral("Cid"), entry.cid }, { QStringLiteral("Type"), entry.type } };
    if (!entry.name.isEmpty())
        object.insert(QStringLiteral("Name"), entry.name);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Not shared with the caller's, as the body of a finished listing is not.
QByteArray ownCopy(const QByteArray& body)
{
    return QByteArray(body.constData(), body.size());
}

} // namespace

// Sorting and joining the two halves of a "recursive+direct" pin list.
class TestPinListOrder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void sortedUniqueByCid_data()
    {
        QTest::addColumn<QList<PinEntry>>("pins");
        QTest::newRow("empty") << QList<PinEntry>();
        QTest::newRow("one") << QList<PinEntry> { pin(QStringLiteral("bafy1")) };
        QTest::newRow("shared prefix, order by the tail")
            << QList<PinEntry> { pin(QStringLiteral("bafybeigzzzzzzzzzzzb")),
                   pin(QStringLiteral("bafybeigzzzzzzzzzzza")), pin(QStringLiteral("bafybeigzzzzzzzzzzz")) };
        QTest::newRow("upper case before lower case") << QList<PinEntry> { pin(QStringLiteral("bafy")),
            pin(QStringLiteral("QmXyz")), pin(QStringLiteral("Qmabc")) };
        QTest::newRow("duplicates: the last listed wins") << QList<PinEntry> {
            pin(QStringLiteral("b"), QStringLiteral("recursive"), QStringLiteral("first")),
            pin(QStringLiteral("a")),
            pin(QStringLiteral("b"), QStringLiteral("direct"), QStringLiteral("second"))
        };
        QTest::newRow("no CID is left out") << QList<PinEntry> { pin(QString()), pin(QStringLiteral("x")) };
        QTest::newRow("beyond Latin-1 near the start") << QList<PinEntry> { pin(QStringLiteral("b\u4e2d")),
            pin(QStringLiteral("b\u00e9")), pin(QStringLiteral("ba")), pin(QStringLiteral("b\u4e2c")) };
        QTest::newRow("U+0000 and the end of a shorter CID")
            << QList<PinEntry> { pin(QStringLiteral("ab") + QChar(0) + u'c'), pin(QStringLiteral("ab")),
                   pin(QStringLiteral("ab") + QChar(0)) };
    }

    void sortedUniqueByCid()
    {
        QFETCH(QList<PinEntry>, pins);
        QCOMPARE(describe(::sortedUniqueByCid(pins)), describe(referenceOrder(pins)));
    }

    void mergeSortedByCid_data()
    {
        QTest::addColumn<QStringList>("earlier");
        QTest::addColumn<QStringList>("later");
        const auto list
            = [](const char* text) { return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts); };
        QTest::newRow("earlier all before later") << list("a b") << list("c d e");
        QTest::newRow("earlier all after later") << list("c d e") << list("a b");
        QTest::newRow("interleaved") << list("a c e") << list("b d f");
        QTest::newRow("shared CIDs") << list("a b c") << list("b c d");
        QTest::newRow("all shared") << list("a b") << list("a b");
        QTest::newRow("earlier empty") << list("") << list("a");
        QTest::newRow("later empty") << list("a b") << list("");
        QTest::newRow("both empty") << list("") << list("");
    }

    void mergeSortedByCid()
    {
        QFETCH(QStringList, earlier);
        QFETCH(QStringList, later);
        QList<PinEntry> a;
        QList<PinEntry> b;
        for (const QString& cid : earlier)
            a.append(pin(cid, QStringLiteral("recursive"), QStringLiteral("earlier")));
        for (const QString& cid : later)
            b.append(pin(cid, QStringLiteral("direct"), QStringLiteral("later")));
        QCOMPARE(describe(::mergeSortedByCid(a, b)), describe(referenceOrder(a + b)));
    }

    // The sorted reading of a body gives what reading it and sorting afterwards gives, whatever
    // the lines hold: escapes, other characters, duplicates, blank and broken lines.
    void sortedBodyAgreesWithSortingAfterwards()
    {
        QRandomGenerator random(20261210);
        const QList<QByteArray> oddLines {
            "{\"Cid\":\"bafyq\\u0041\",\"Type\":\"recursive\",\"Name\":\"caf\\u00e9\"}",
            "{\"Cid\":\"bafyqA\",\"Type\":\"direct\"}",
            "{\"Type\":\"direct\",\"Name\":\"zz\",\"Cid\":\"bafyo\"}",
            "{\"Cid\":\"bafy\xc3\xa9\",\"Type\":\"direct\",\"Name\":\"\xe4\xb8\xad\"}",
            "{\"PinLsObject\":{\"Cid\":\"bafyw\",\"Type\":\"direct\",\"Name\":\"n\"}}",
            "{\"Cid\":\"\\u4e2dbafy\",\"Type\":\"recursive\"}",
            "{\"Cid\":\"\",\"Type\":\"recursive\"}",
            "not json",
            "   ",
            "",
        };
        for (int round = 0; round < 200; ++round) {
            QByteArray body;
            const int lines = random.bounded(60);
            for (int i = 0; i < lines; ++i) {
                if (random.bounded(5) == 0) {
                    body += oddLines.at(random.bounded(int(oddLines.size()))) + '\n';
                    continue;
                }
                const QString cid = QStringLiteral("bafy") + QString::number(random.bounded(40), 36);
                body += line(
                    pin(cid, random.bounded(2) ? QStringLiteral("recursive") : QStringLiteral("direct"),
                        random.bounded(2) ? QString::number(i) : QString()));
            }
            if (random.bounded(2))
                body.chop(1); // no line feed after the last line
            const QList<PinEntry> expected = ::sortedUniqueByCid(parsePinListBody(body).pins);
            QCOMPARE(describe(parsePinListBodyByCid(body).pins), describe(expected));
            // A body of its own is compacted while it is read: the same entries.
            QCOMPARE(describe(parsePinListBodyByCid(ownCopy(body)).pins), describe(expected));

            // CIDs the table already holds, some listed again and some gone: the listed ones are
            // shared, and nothing else changes.
            QStringList held { QStringLiteral("bafy!"), QStringLiteral("bafyzz") };
            for (const PinEntry& entry : expected) {
                if (random.bounded(2))
                    held.append(QString(entry.cid.constData(), entry.cid.size())); // a text of its own
            }
            std::sort(held.begin(), held.end());
            const QList<PinEntry> sharing = parsePinListBodyByCid(ownCopy(body), held).pins;
            QCOMPARE(describe(sharing), describe(expected));
            // The odd lines' CIDs may come from the JSON reader, which makes texts of its own.
            const QStringList readAsJson { QStringLiteral("bafyqA"), QStringLiteral("bafy\u00e9"),
                QStringLiteral("bafyw"), QStringLiteral("\u4e2dbafy") };
            // A CID beyond Latin-1 sends the whole body down the slow way, which shares nothing.
            const bool slowWay = body.contains("\\u4e2d");
            for (const PinEntry& entry : sharing) {
                const qsizetype at = held.indexOf(entry.cid);
                if (at >= 0 && !readAsJson.contains(entry.cid) && !slowWay)
                    QCOMPARE(entry.cid.constData(), held.at(at).constData());
            }
        }
    }

    // Compacting moves each text to the front: a long CID listed after the other members must not
    // overwrite them on its way.
    void membersInAnyOrderSurviveCompaction()
    {
        const QByteArray cid = "bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi";
        const QByteArray body = "{\"Type\":\"direct\",\"Name\":\"first\",\"Cid\":\"" + cid
            + "\"}\n{\"Name\":\"second\",\"Cid\":\"bafya\",\"Type\":\"recursive\"}\n";
        QCOMPARE(describe(parsePinListBodyByCid(ownCopy(body)).pins),
            QStringList({ QStringLiteral("bafya/recursive/second"),
                QString::fromLatin1(cid) + QStringLiteral("/direct/first") }));
    }

    void objectFormIsSortedToo()
    {
        const QByteArray body
            = "{\"Keys\":{\"bafyb\":{\"Type\":\"direct\"},\"Qma\":{\"Type\":\"recursive\",\"Name\":\"x\"}}}";
        const ParsedPinsPayload payload = parsePinListBodyByCid(body);
        QCOMPARE(payload.total, 2);
        QCOMPARE(describe(payload.pins),
            QStringList({ QStringLiteral("Qma/recursive/x"), QStringLiteral("bafyb/direct/") }));
    }

    // Whichever half of "recursive+direct" arrives first, the merged list is the same, and for a
    // CID listed by both the half delivered later wins.
    void combinedLoadInEitherOrder_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("recursive first") << QStringLiteral("recursive");
        QTest::newRow("direct first") << QStringLiteral("direct");
    }

    void combinedLoadInEitherOrder()
    {
        QFETCH(QString, first);
        const QString second = first == u"recursive" ? QStringLiteral("direct") : QStringLiteral("recursive");
        const auto batch = [](const QString& type) {
            QByteArray body;
            for (const char* cid : { "bafyshared", "bafy3", "Qm1" })
                body += line(pin(QString::fromLatin1(cid), type));
            body += line(pin(type == u"recursive" ? QStringLiteral("bafyr") : QStringLiteral("bafyd"), type));
            return body;
        };
        FakeKuboNode node;
        QVERIFY(node.start());
        // The first half is answered at once, the second only when released.
        node.route(QStringLiteral("/pin/ls"), [&](const FakeKuboNode::Request& request) {
            const QString type = request.queryValue(QStringLiteral("type"));
            return type == first ? FakeKuboNode::streamed({ batch(type) }) : FakeKuboNode::held();
        });
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        QSignalSpy progress(&client, &IpfsClient::streamEntriesLoaded);
        client.fetchPins(QStringLiteral("recursive+direct"), QStringLiteral("base32"), true);

        // The first half is counted while it streams and once more when its parse is delivered.
        QTRY_COMPARE(progress.size(), 2);
        QCOMPARE(received.size(), 0);
        node.releaseHeld(QStringLiteral("/pin/ls"), FakeKuboNode::streamed({ batch(second) }));
        QVERIFY(received.wait());
        const QList<PinEntry> pins = received.first().first().value<QList<PinEntry>>();
        QStringList texts;
        for (const PinEntry& entry : pins)
            texts.append(entry.cid + u'/' + entry.type);
        QCOMPARE(texts,
            QStringList({ QStringLiteral("Qm1/") + second, QStringLiteral("bafy3/") + second,
                QStringLiteral("bafyd/direct"), QStringLiteral("bafyr/recursive"),
                QStringLiteral("bafyshared/") + second }));
    }
};

QTEST_MAIN(TestPinListOrder)
#include "tst_pinlistorder.moc"
