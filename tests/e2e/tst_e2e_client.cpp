#include <QtTest>

#include "e2enode.h"
#include "ipfsclient.h"
#include "testsettings.h"

#include <QJsonArray>
#include <QJsonObject>

// The client against an independent node: every expectation is read from the node's own answers.
class TestE2eClient : public QObject
{
    Q_OBJECT

    E2eNode node;
    QString folderCid;   // recursive pin of a wrapped folder
    QString directCid;   // direct pin
    QString unpinnedCid; // stored, not pinned

    // The node's own view of its pins of one type, in the text form the client asks for.
    QSet<QString> nodePins(const QString& type)
    {
        const auto answer = node.post(QStringLiteral("/pin/ls"),
            { { QStringLiteral("type"), type }, { QStringLiteral("cid-base"), QStringLiteral("base32") } });
        QSet<QString> cids;
        const QJsonObject keys = answer.json().object().value(QStringLiteral("Keys")).toObject();
        for (auto it = keys.begin(); it != keys.end(); ++it)
            cids.insert(it.key());
        return cids;
    }

    static QString base32(const QString& cid) { return E2eNode::toBase32(cid); }

    QList<PinEntry> load(IpfsClient& client, const QString& filter)
    {
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        client.fetchPins(filter, QStringLiteral("base32"), true);
        if (!received.wait(30000))
            return {};
        return received.first().first().value<QList<PinEntry>>();
    }

    static QSet<QString> cidsOf(const QList<PinEntry>& pins)
    {
        QSet<QString> cids;
        for (const PinEntry& pin : pins)
            cids.insert(pin.cid);
        return cids;
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        E2E_START_NODE(node);
        const QList<QPair<QString, QString>> pinned { { QStringLiteral("cid-version"), QStringLiteral("1") },
            { QStringLiteral("wrap-with-directory"), QStringLiteral("true") } };
        const auto folder = node.add({ { QStringLiteral("docs/readme.txt"), "read me\n" },
                                         { QStringLiteral("docs/notes/a.txt"), "note a\n" },
                                         { QStringLiteral("docs/notes/b.txt"), "note b\n" } },
            pinned);
        QVERIFY(!folder.isEmpty());
        folderCid = base32(folder.last().value(QStringLiteral("Hash")).toString());

        const QList<QPair<QString, QString>> unpinnedAdd { { QStringLiteral("cid-version"), QStringLiteral("1") },
            { QStringLiteral("pin"), QStringLiteral("false") } };
        directCid = base32(node.add({ { QStringLiteral("direct.txt"), "direct\n" } }, unpinnedAdd)
                               .last().value(QStringLiteral("Hash")).toString());
        QCOMPARE(node.post(QStringLiteral("/pin/add"),
                     { { QStringLiteral("arg"), directCid }, { QStringLiteral("recursive"), QStringLiteral("false") } })
                     .status,
            200);
        unpinnedCid = base32(node.add({ { QStringLiteral("loose.txt"), "loose\n" } }, unpinnedAdd)
                                 .last().value(QStringLiteral("Hash")).toString());
    }

    void listsPinsOfEveryFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("nodeTypes");
        QTest::newRow("recursive") << QStringLiteral("recursive") << QStringList { QStringLiteral("recursive") };
        QTest::newRow("direct") << QStringLiteral("direct") << QStringList { QStringLiteral("direct") };
        QTest::newRow("recursive+direct") << QStringLiteral("recursive+direct")
                                          << QStringList { QStringLiteral("recursive"), QStringLiteral("direct") };
        QTest::newRow("indirect") << QStringLiteral("indirect") << QStringList { QStringLiteral("indirect") };
        QTest::newRow("all") << QStringLiteral("all") << QStringList { QStringLiteral("all") };
    }

    void listsPinsOfEveryFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, nodeTypes);
        QSet<QString> expected;
        for (const QString& type : nodeTypes)
            expected += nodePins(type);
        QVERIFY(!expected.isEmpty());

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        const QList<PinEntry> pins = load(client, filter);
        QCOMPARE(cidsOf(pins), expected);
        for (const PinEntry& pin : pins) {
            QVERIFY2(!pin.type.isEmpty(), qPrintable(pin.cid));
            QCOMPARE(pin.refsCount, -1);
        }
        if (filter == QLatin1String("recursive+direct")) {
            QVERIFY(cidsOf(pins).contains(folderCid));
            QVERIFY(cidsOf(pins).contains(directCid));
        }
    }

    void findsUnpinnedLocalContent()
    {
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        client.fetchUnpinned();
        QVERIFY(received.wait(30000));
        const QSet<QString> unpinned = cidsOf(received.first().first().value<QList<PinEntry>>());
        QVERIFY(unpinned.contains(unpinnedCid));
        QVERIFY(!unpinned.contains(folderCid));
        QVERIFY(!unpinned.contains(directCid));
        QVERIFY((unpinned & nodePins(QStringLiteral("all"))).isEmpty());
    }

    void showsTheNodesIdentity()
    {
        const QJsonObject id = node.post(QStringLiteral("/id")).json().object();
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy info(&client, &IpfsClient::nodeInfoReceived);
        client.fetchNodeInfo();
        QVERIFY(info.wait(30000));
        QCOMPARE(info.first().at(0).toString(), id.value(QStringLiteral("ID")).toString());
        QCOMPARE(info.first().at(1).toString(), id.value(QStringLiteral("AgentVersion")).toString());
    }
};

QTEST_MAIN(TestE2eClient)
#include "tst_e2e_client.moc"
