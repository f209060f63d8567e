#include <QtTest>

#include <QNetworkReply>

#include "fakekubonode.h"
#include "ipfsclient.h"
#include "testsettings.h"

Q_DECLARE_METATYPE(FakeKuboNode::Response)

namespace {

QStringList argsOf(const FakeKuboNode::Request& request)
{
    return request.queryValues(QStringLiteral("arg"));
}

FakeKuboNode::Response formatted(const QString& cid)
{
    return FakeKuboNode::json(
        QStringLiteral("{\"CidStr\":\"x\",\"Formatted\":\"%1\",\"ErrorMsg\":\"\"}").arg(cid).toUtf8());
}

// Answers held "/cid/format" requests one at a time, each with the converted form of its own CID.
void releaseOneConversion(
    FakeKuboNode& node, const std::function<FakeKuboNode::Response(const QString&)>& answer)
{
    const QString cid
        = node.heldRequests(QStringLiteral("/cid/format")).first().queryValue(QStringLiteral("arg"));
    node.releaseHeld(QStringLiteral("/cid/format"), answer(cid), 1);
}

} // namespace

// Removing pins, with and without conversion to CIDv0 first.
class TestUnpin : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    int repliesInFlight() const { return int(client->findChildren<QNetworkReply*>().size()); }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
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
        node = nullptr;
    }

    void plainRemovalCleansTheList()
    {
        node->route(QStringLiteral("/pin/rm"), FakeKuboNode::json("{\"Pins\":[\"bafyA\"]}"));
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        client->unpin({ QStringLiteral("  bafyA \t"), QString(), QStringLiteral("   ") }, false);
        QVERIFY(unpinned.wait());
        QCOMPARE(node->requestCount(QStringLiteral("/cid/format")), 0);
        const QList<FakeKuboNode::Request> removals = node->requests(QStringLiteral("/pin/rm"));
        QCOMPARE(removals.size(), 1);
        QCOMPARE(removals.first().queryKeys(), QStringList { QStringLiteral("arg") });
        QCOMPARE(argsOf(removals.first()), QStringList { QStringLiteral("bafyA") });
        QCOMPARE(removals.first().method, QByteArray("POST"));
        QCOMPARE(unpinned.first().first().toStringList(), QStringList { QStringLiteral("bafyA") });
    }

    void nothingToRemoveSendsNothing()
    {
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->unpin({}, false);
        client->unpin({ QString(), QStringLiteral("  ") }, true);
        QCOMPARE(repliesInFlight(), 0);
        QCOMPARE(unpinned.size(), 0);
        QCOMPARE(errors.size(), 0);
    }

    void removalAnswers_data()
    {
        QTest::addColumn<FakeKuboNode::Response>("answer");
        QTest::addColumn<QStringList>("unpinned");
        QTest::addColumn<QString>("error");
        const QStringList asked { QStringLiteral("bafyA"), QStringLiteral("bafyB") };
        QTest::newRow("node names the removed pins")
            << FakeKuboNode::json("{\"Pins\":[\" QmA\",\"QmB\"]}")
            << QStringList { QStringLiteral(" QmA"), QStringLiteral("QmB") } << QString();
        QTest::newRow("empty Pins") << FakeKuboNode::json("{\"Pins\":[]}") << asked << QString();
        QTest::newRow("no Pins") << FakeKuboNode::json("{}") << asked << QString();
        QTest::newRow("only non-strings")
            << FakeKuboNode::json("{\"Pins\":[1,null,{}]}") << asked << QString();
        QTest::newRow("not JSON") << FakeKuboNode::text("ok") << QStringList {}
                                  << QStringLiteral("Unpin: invalid response from node");
        QTest::newRow("JSON array") << FakeKuboNode::json("[]") << QStringList {}
                                    << QStringLiteral("Unpin: invalid response from node");
        QTest::newRow("node refuses")
            << FakeKuboNode::kuboError(QStringLiteral("not pinned or pinned indirectly")) << QStringList {}
            << QStringLiteral("Unpin failed: ");
    }

    void removalAnswers()
    {
        QFETCH(FakeKuboNode::Response, answer);
        QFETCH(QStringList, unpinned);
        QFETCH(QString, error);
        node->route(QStringLiteral("/pin/rm"), answer);
        QSignalSpy unpinnedSpy(client, &IpfsClient::unpinned);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->unpin({ QStringLiteral("bafyA"), QStringLiteral("bafyB") }, false);
        QTRY_VERIFY(!unpinnedSpy.isEmpty() || !errors.isEmpty());
        QTRY_COMPARE(repliesInFlight(), 0);
        if (error.isEmpty()) {
            QCOMPARE(errors.size(), 0);
            QCOMPARE(unpinnedSpy.size(), 1);
            QCOMPARE(unpinnedSpy.first().first().toStringList(), unpinned);
        } else {
            QCOMPARE(unpinnedSpy.size(), 0);
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors.first().first().toString().startsWith(error),
                qPrintable(errors.first().first().toString()));
        }
    }

    void conversionsAnsweredInAnyOrder()
    {
        // c3 and c4 answer at once, c1 and c2 are held and answered later: c2 fails, c4's form is empty.
        node->route(QStringLiteral("/cid/format"), [](const FakeKuboNode::Request& request) {
            const QString cid = request.queryValue(QStringLiteral("arg"));
            if (cid == u"c3")
                return formatted(QStringLiteral("Qm3"));
            if (cid == u"c4")
                return formatted(QString());
            return FakeKuboNode::held();
        });
        node->route(QStringLiteral("/pin/rm"), FakeKuboNode::json("{\"Pins\":[]}"));
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        client->unpin(
            { QStringLiteral("c1"), QStringLiteral(" c2"), QStringLiteral("c3"), QStringLiteral("c4") },
            true);

        QTRY_COMPARE(node->heldCount(QStringLiteral("/cid/format")), 2);
        QTRY_COMPARE(repliesInFlight(), 2);
        for (const FakeKuboNode::Request& request : node->requests(QStringLiteral("/cid/format"))) {
            QCOMPARE(request.queryKeys(),
                (QStringList { QStringLiteral("arg"), QStringLiteral("v"), QStringLiteral("b") }));
            QCOMPARE(request.queryValue(QStringLiteral("v")), QStringLiteral("0"));
            QCOMPARE(request.queryValue(QStringLiteral("b")), QStringLiteral("base58btc"));
        }
        const auto answer = [](const QString& cid) {
            return cid == u"c1" ? formatted(QStringLiteral("Qm1"))
                                : FakeKuboNode::kuboError(QStringLiteral("bad cid"));
        };
        releaseOneConversion(*node, answer);
        QTRY_COMPARE(repliesInFlight(), 1);
        QCOMPARE(node->requestCount(QStringLiteral("/pin/rm")), 0);
        releaseOneConversion(*node, answer);

        QVERIFY(unpinned.wait());
        const QList<FakeKuboNode::Request> removals = node->requests(QStringLiteral("/pin/rm"));
        QCOMPARE(removals.size(), 1);
        QCOMPARE(argsOf(removals.first()),
            (QStringList {
                QStringLiteral("Qm1"), QStringLiteral("c2"), QStringLiteral("Qm3"), QStringLiteral("c4") }));
        // Without names from the node, the caller's own CIDs are reported.
        QCOMPARE(unpinned.first().first().toStringList(),
            (QStringList {
                QStringLiteral("c1"), QStringLiteral("c2"), QStringLiteral("c3"), QStringLiteral("c4") }));
    }

    void convertedFormsReportedWhenTheNodeNamesThem()
    {
        node->route(QStringLiteral("/cid/format"), formatted(QStringLiteral("QmOnly")));
        node->route(QStringLiteral("/pin/rm"), FakeKuboNode::json("{\"Pins\":[\"QmOnly\"]}"));
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        client->unpin({ QStringLiteral("bafyOnly") }, true);
        QVERIFY(unpinned.wait());
        QCOMPARE(unpinned.first().first().toStringList(), QStringList { QStringLiteral("QmOnly") });
    }

    void overlappingUnpinsKeepTheirOwnAnswers()
    {
        node->route(QStringLiteral("/cid/format"), FakeKuboNode::held());
        node->route(QStringLiteral("/pin/rm"), FakeKuboNode::json("{}"));
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        client->unpin({ QStringLiteral("a1"), QStringLiteral("a2") }, true);
        client->unpin({ QStringLiteral("b1") }, true);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/cid/format")), 3);

        const auto answer = [](const QString& cid) { return formatted(QStringLiteral("v0-") + cid); };
        for (int i = 0; i < 3; ++i)
            releaseOneConversion(*node, answer);
        QTRY_COMPARE(unpinned.size(), 2);

        QList<QStringList> removed;
        for (const FakeKuboNode::Request& request : node->requests(QStringLiteral("/pin/rm")))
            removed << argsOf(request);
        QCOMPARE(removed.size(), 2);
        QVERIFY(removed.contains(QStringList { QStringLiteral("v0-b1") }));
        QVERIFY(removed.contains((QStringList { QStringLiteral("v0-a1"), QStringLiteral("v0-a2") })));
        QList<QStringList> reported { unpinned.at(0).first().toStringList(),
            unpinned.at(1).first().toStringList() };
        QVERIFY(reported.contains(QStringList { QStringLiteral("b1") }));
        QVERIFY(reported.contains((QStringList { QStringLiteral("a1"), QStringLiteral("a2") })));
    }
};

QTEST_MAIN(TestUnpin)
#include "tst_unpin.moc"
