#include <QtTest>

#include <QNetworkReply>

#include "cidtext.h"
#include "fakekubonode.h"
#include "fakepinstore.h"
#include "ipfsclient.h"
#include "testsettings.h"
#include "unpinplan.h"

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(FakeKuboNode::Response)

namespace {

QStringList cidsOf(const QList<PinEntry>& pins)
{
    QStringList cids;
    for (const PinEntry& pin : pins)
        cids.append(pin.cid);
    return cids;
}

PinEntry listedPin(const QString& cid, const QString& type)
{
    PinEntry pin;
    pin.cid = cid;
    pin.type = type;
    return pin;
}

} // namespace

// Removing pins as the node keys them: by exact CID, whatever form a listing printed.
class TestUnpin : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    FakePinStore* store = nullptr;
    IpfsClient* client = nullptr;

    int repliesInFlight() const { return int(client->findChildren<QNetworkReply*>().size()); }

    // Unpins and waits for the report; every reply is handled by then.
    UnpinReport unpinAndWait(const std::function<void()>& start)
    {
        QSignalSpy finished(client, &IpfsClient::unpinFinished);
        start();
        if (!finished.wait(20000))
            return {};
        return finished.first().first().value<UnpinReport>();
    }

    // A pin of every kind the add dialog and the node make, as the main window's listing shows them.
    QList<PinEntry> pinOfEveryKind()
    {
        const QString leaf = store->addRaw(u"leaf"_s);
        store->pin(store->addNode(u"empty folder"_s, 0)); // every new repository pins one
        store->pin(store->addNode(u"file v0"_s, 0, { leaf }), u"recursive"_s, u"old"_s);
        store->pin(store->addNode(u"wrapped v1"_s, 1, { store->addNode(u"file v1"_s, 1, { leaf }) }));
        store->pin(store->addRaw(u"raw file"_s));
        store->pin(store->addNode(u"direct v0"_s, 0), u"direct"_s);
        return store->listedPins();
    }

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
        store = new FakePinStore;
        store->serve(*node);
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        delete client;
        client = nullptr;
        delete node;
        node = nullptr;
        delete store;
        store = nullptr;
    }

    void everyListedPinGoes()
    {
        const QList<PinEntry> listed = pinOfEveryKind();
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        const UnpinReport report = unpinAndWait([&] { client->unpinPins(listed, true); });
        QCOMPARE(report.removed, cidsOf(listed));
        QVERIFY(report.notPinned.isEmpty() && report.failed.isEmpty());
        QCOMPARE(store->pinnedCids(), QStringList());
        QCOMPARE(unpinned.size(), 1);
        QCOMPARE(unpinned.first().first().toStringList(), cidsOf(listed));
        QCOMPARE(node->requestCount(u"/cid/format"_s), 0);
        QTRY_COMPARE(repliesInFlight(), 0);
    }

    void theCallersCidsAreCleanedAndTried_data()
    {
        QTest::addColumn<bool>("bothVersions");
        QTest::addColumn<bool>("removed");
        QTest::newRow("both versions tried") << true << true;
        QTest::newRow("only the text given") << false << false;
    }

    void theCallersCidsAreCleanedAndTried()
    {
        QFETCH(bool, bothVersions);
        QFETCH(bool, removed);
        const QString pinned = store->addNode(u"file"_s, 1);
        store->pin(pinned);
        const QString v0Text = otherCidVersionText(pinned);
        const UnpinReport report = unpinAndWait(
            [&] { client->unpin({ u"  "_s + v0Text + u" \t"_s, QString(), u"   "_s, v0Text }, bothVersions); });
        QCOMPARE(report.removed.isEmpty(), !removed);
        QCOMPARE(report.removed + report.notPinned, QStringList { v0Text });
        QCOMPARE(store->isPinned(pinned), !bothVersions);
        for (const FakeKuboNode::Request& request : node->requests(u"/pin/rm"_s))
            QCOMPARE(request.queryValues(u"arg"_s), QStringList { pinned });
    }

    void nothingToRemoveSendsNothing()
    {
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        QSignalSpy finished(client, &IpfsClient::unpinFinished);
        client->unpin({}, false);
        client->unpin({ QString(), QStringLiteral("  ") }, true);
        client->unpinPins({}, true);
        QTest::qWait(50);
        QCOMPARE(node->requests().size(), 0);
        QCOMPARE(unpinned.size(), 0);
        QCOMPARE(finished.size(), 0);
    }

    void indirectPinsAreLeftOutAndCounted()
    {
        const QString child = store->addRaw(u"child"_s);
        const QString parent = store->addNode(u"parent"_s, 1, { child });
        store->pin(parent);
        const UnpinReport report = unpinAndWait([&] {
            client->unpinPins({ listedPin(child, u"indirect"_s), listedPin(parent, u"recursive"_s),
                                  listedPin(child, u"indirect through "_s + parent) },
                true);
        });
        QCOMPARE(report.removed, QStringList { parent });
        QCOMPARE(report.indirectLeftOut, 2);
        for (const FakeKuboNode::Request& request : node->requests())
            QVERIFY(!request.queryValues(u"arg"_s).contains(child));

        // Only indirect pins: nothing is sent, and the report says why.
        node->clearRequests();
        const UnpinReport onlyIndirect
            = unpinAndWait([&] { client->unpinPins({ listedPin(child, u"indirect"_s) }, true); });
        QCOMPARE(onlyIndirect.indirectLeftOut, 1);
        QCOMPARE(onlyIndirect.asked(), 1);
        QCOMPARE(node->requests().size(), 0);
    }

    // What the report says when the node refuses or holds no pin, for one CID and inside a batch.
    void reportsExactlyWhatWent()
    {
        const QList<PinEntry> listed = pinOfEveryKind();
        const QString neverPinned = store->addNode(u"loose"_s, 1);
        QList<PinEntry> asked = listed;
        asked.insert(2, listedPin(neverPinned, QString()));
        const UnpinReport report = unpinAndWait([&] { client->unpinPins(asked, true); });
        QCOMPARE(report.removed, cidsOf(listed));
        QCOMPARE(report.notPinned, QStringList { neverPinned });
        QCOMPARE(report.asked(), int(asked.size()));
    }

    void aPinGoneMeanwhileIsFoundInTheBatch_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("notPinned");
        QTest::newRow("removed by someone else") << QString() << true;
        QTest::newRow("refused for another reason") << u"repo is read-only"_s << false;
    }

    // Between lookup and removal the node changes: "/pin/rm" stops in the middle of a batch and
    // says only why. Which pins went is asked again; the rest are removed after.
    void aPinGoneMeanwhileIsFoundInTheBatch()
    {
        QFETCH(QString, refusal);
        QFETCH(bool, notPinned);
        QStringList cids;
        for (int i = 0; i < 6; ++i) {
            cids << store->addNode(u"pin %1"_s.arg(i), 1);
            store->pin(cids.last());
        }
        bool changed = false;
        node->route(u"/pin/rm"_s, [&](const FakeKuboNode::Request& request) {
            if (changed)
                return store->pinRm(request);
            changed = true;
            if (!refusal.isEmpty()) {
                // The node removes the first two, then refuses the third.
                FakeKuboNode::Request firstTwo = request;
                firstTwo.query = { { u"arg"_s, cids.at(0) }, { u"arg"_s, cids.at(1) } };
                store->pinRm(firstTwo);
                return FakeKuboNode::kuboError(refusal);
            }
            FakeKuboNode::Request third = request;
            third.query = { { u"arg"_s, cids.at(2) } };
            store->pinRm(third);
            return store->pinRm(request);
        });
        const UnpinReport report = unpinAndWait([&] { client->unpin(cids, true); });
        QStringList expectedRemoved = cids;
        expectedRemoved.removeAt(2);
        QCOMPARE(report.removed, expectedRemoved);
        QCOMPARE(report.notPinned, notPinned ? QStringList { cids.at(2) } : QStringList());
        QCOMPARE(report.failed, notPinned ? QStringList() : QStringList { cids.at(2) });
        QCOMPARE(store->isPinned(cids.at(2)), !notPinned);
        if (!notPinned)
            QCOMPARE(report.failure, refusal);
    }

    // Thousands of pins: batches whose request line every node accepts, and a failed batch
    // does not end the unpin.
    void largeUnpinsGoInBatches()
    {
        QList<PinEntry> listed;
        for (int i = 0; i < 2000; ++i)
            store->pin(store->addNode(u"file %1"_s.arg(i), i % 3 == 0 ? 1 : 0));
        listed = store->listedPins();
        int removals = 0;
        QString refusedBatchFirst;
        node->route(u"/pin/rm"_s, [&](const FakeKuboNode::Request& request) {
            if (++removals == 2) {
                refusedBatchFirst = request.queryValues(u"arg"_s).first();
                return FakeKuboNode::kuboError(u"repo is busy"_s);
            }
            return store->pinRm(request);
        });
        const UnpinReport report = unpinAndWait([&] { client->unpinPins(listed, true); });

        QCOMPARE(report.removed.size() + report.failed.size(), listed.size());
        QCOMPARE(report.failed.size(), 1);
        QCOMPARE(report.failure, u"repo is busy"_s);
        QCOMPARE(store->pinnedCids().size(), 1);
        QCOMPARE(cidMultihash(store->pinnedCids().first()), cidMultihash(refusedBatchFirst));
        for (const FakeKuboNode::Request& request : node->requests()) {
            QVERIFY2(request.rawQuery.size() < UnpinPlan::kMaxArgumentBytes + 100,
                qPrintable(u"%1 bytes"_s.arg(request.rawQuery.size())));
        }
        QVERIFY(removals >= 2000 * 64 / UnpinPlan::kMaxArgumentBytes);
        // Mixed versions in any order cost one lookup per miss at most, then one listing.
        QVERIFY(node->requestCount(u"/pin/ls"_s) <= UnpinPlan::kMissesBeforeListing + 12);
    }

    void aRefusedRequestEndsTheUnpin_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<FakeKuboNode::Response>("answer");
        QTest::addColumn<QString>("failure");
        QTest::newRow("lookup forbidden") << u"/pin/ls"_s << FakeKuboNode::text("403 - Forbidden", 403) << QString();
        QTest::newRow("removal answers no JSON") << u"/pin/rm"_s << FakeKuboNode::text("ok") << u"invalid response from node"_s;
        QTest::newRow("removal cut off") << u"/pin/rm"_s << FakeKuboNode::never() << QString();
    }

    void aRefusedRequestEndsTheUnpin()
    {
        QFETCH(QString, command);
        QFETCH(FakeKuboNode::Response, answer);
        QFETCH(QString, failure);
        const QList<PinEntry> listed = pinOfEveryKind();
        node->route(command, answer);
        client->setTransferTimeout(300);
        QSignalSpy unpinned(client, &IpfsClient::unpinned);
        const UnpinReport report = unpinAndWait([&] { client->unpinPins(listed, true); });
        QCOMPARE(report.failed, cidsOf(listed));
        QVERIFY(!report.failure.isEmpty());
        if (!failure.isEmpty())
            QCOMPARE(report.failure, failure);
        QCOMPARE(unpinned.size(), 0);
        QTRY_COMPARE(repliesInFlight(), 0);
    }

    void unpinsRunOneAfterAnother()
    {
        const QString first = store->addNode(u"first"_s, 0);
        const QString second = store->addNode(u"second"_s, 1);
        store->pin(first);
        store->pin(second);
        node->route(u"/pin/rm"_s, FakeKuboNode::held());
        QSignalSpy finished(client, &IpfsClient::unpinFinished);
        client->unpin({ otherCidVersionText(first) }, true);
        client->unpin({ second, otherCidVersionText(first) }, true);
        QTRY_COMPARE(node->heldCount(u"/pin/rm"_s), 1);
        QTest::qWait(50);
        // The second waits for the first: no lookup of its own yet.
        for (const FakeKuboNode::Request& request : node->requests(u"/pin/ls"_s))
            QVERIFY(!request.queryValues(u"arg"_s).contains(second));
        const FakeKuboNode::Request held = node->heldRequests(u"/pin/rm"_s).first();
        node->releaseHeld(u"/pin/rm"_s, store->pinRm(held));
        QTRY_COMPARE(node->heldCount(u"/pin/rm"_s), 1);
        node->releaseHeld(u"/pin/rm"_s, store->pinRm(node->heldRequests(u"/pin/rm"_s).first()));
        QTRY_COMPARE(finished.size(), 2);
        const auto firstReport = finished.at(0).first().value<UnpinReport>();
        const auto secondReport = finished.at(1).first().value<UnpinReport>();
        QCOMPARE(firstReport.removed, QStringList { otherCidVersionText(first) });
        QCOMPARE(secondReport.removed, QStringList { second });
        QCOMPARE(secondReport.notPinned, QStringList { otherCidVersionText(first) });
    }
};

QTEST_MAIN(TestUnpin)
#include "tst_unpin.moc"
