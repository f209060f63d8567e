#include <QtTest>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QUrlQuery>

#include "fakepinstore.h"
#include "gateway.h"
#include "indirectpinsdialog.h"
#include "mainwindowharness.h"
#include "modaldialogdriver.h"
#include "pincontentsdialog.h"
#include "settingsdialog.h"
#include "testsettings.h"

namespace {

// As the listing shows them: kRec1 is a CIDv0 pin, shown in its CIDv1 form.
const QString kRec1 = FakePinStore::nodeCid(QStringLiteral("recursive one"), 1);
const QString kDirect = FakePinStore::nodeCid(QStringLiteral("direct one"), 1);
const QString kRec2 = FakePinStore::nodeCid(QStringLiteral("recursive two"), 1);

QList<PinEntry> fixtureRows()
{
    return { pinRow(kRec1, QStringLiteral("recursive"), QStringLiteral("photos")),
        pinRow(kDirect, QStringLiteral("direct")), pinRow(kRec2, QStringLiteral("recursive")) };
}

void pinTheFixture(FakePinStore& store)
{
    store.pin(store.addNode(QStringLiteral("recursive one"), 0), QStringLiteral("recursive"), QStringLiteral("photos"));
    store.pin(store.addNode(QStringLiteral("direct one"), 1), QStringLiteral("direct"));
    store.pin(store.addNode(QStringLiteral("recursive two"), 1));
}

// The store answers the unpin's lookups and removals; the window's own loads stay held.
void routeUnpin(FakeKuboNode* node, FakePinStore& store)
{
    node->route(QStringLiteral("/pin/ls"), [&store](const FakeKuboNode::Request& request) {
        return request.queryValues(QStringLiteral("arg")).isEmpty() ? FakeKuboNode::held() : store.pinLs(request);
    });
    node->route(QStringLiteral("/pin/rm"), [&store](const FakeKuboNode::Request& request) { return store.pinRm(request); });
}

// Table loads: pin listings without named CIDs.
int pinLoads(const FakeKuboNode* node)
{
    int loads = 0;
    for (const FakeKuboNode::Request& request : node->requests(QStringLiteral("/pin/ls")))
        loads += request.queryValues(QStringLiteral("arg")).isEmpty() ? 1 : 0;
    return loads;
}

// The requests of one command that the client issued while the spy listened, in order.
QList<QUrlQuery> issued(const QSignalSpy& spy, const QString& command)
{
    QList<QUrlQuery> queries;
    for (const QList<QVariant>& arguments : spy) {
        const QString line = arguments.first().toString();
        const QUrl url(line.mid(line.indexOf(QLatin1String(" POST ")) + 6));
        if (url.path() == QStringLiteral("/api/v0") + command)
            queries.append(QUrlQuery(url));
    }
    return queries;
}

} // namespace

class TestPinActions : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    FakePinStore* store = nullptr;
    MainWindowHarness* ui = nullptr;
    OpenedUrlRecorder recorder;

    QStringList statusLogMessages() const
    {
        QStringList messages;
        const QStringList lines = ui->get()->statusLog();
        for (const QString& line : lines)
            messages.append(line.mid(21)); // "yyyy-MM-dd hh:mm:ss  "
        return messages;
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void init()
    {
        recorder.urls.clear();
        QGuiApplication::clipboard()->clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        ui = new MainWindowHarness(node);
        QVERIFY(ui->get());
        ui->setRows(fixtureRows());
        store = new FakePinStore;
        pinTheFixture(*store);
    }

    void cleanup()
    {
        delete ui;
        ui = nullptr;
        delete node;
        node = nullptr;
        delete store;
        store = nullptr;
    }

    void contextMenu_data()
    {
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QStringList>("selectedBefore");
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("selectedAfter");

        const QStringList common { QStringLiteral("Copy CID"), QStringLiteral("Open via IPNS..."),
            QStringLiteral("Open from gateway"), QStringLiteral("Open from local") };
        const QStringList pinnedPart { QStringLiteral("Publish to IPNS..."), QStringLiteral("Unpin"),
            QStringLiteral("-") };
        const QStringList recursivePart { QStringLiteral("Show indirect pins"),
            QStringLiteral("List files / Export\u2026"), QStringLiteral("-") };

        QTest::newRow("pinned recursive row")
            << true << QStringList() << kRec1 << recursivePart + pinnedPart + common << QStringList { kRec1 };
        QTest::newRow("pinned direct row")
            << true << QStringList() << kDirect << pinnedPart + common << QStringList { kDirect };
        QTest::newRow("pinned, one of three selected rows")
            << true << QStringList { kRec1, kDirect, kRec2 } << kDirect
            << QStringList { QStringLiteral("Unpin") } << QStringList { kRec1, kDirect, kRec2 };
        QTest::newRow("pinned, outside the selection")
            << true << QStringList { kRec1, kDirect } << kRec2 << recursivePart + pinnedPart + common
            << QStringList { kRec2 };
        QTest::newRow("pinned, the only selected row")
            << true << QStringList { kDirect } << kDirect << pinnedPart + common << QStringList { kDirect };
        QTest::newRow("unpinned, one of three selected rows")
            << false << QStringList { kRec1, kDirect, kRec2 } << kDirect << common << QStringList { kDirect };
    }

    void contextMenu()
    {
        QFETCH(bool, pinned);
        QFETCH(QStringList, selectedBefore);
        QFETCH(QString, clicked);
        QFETCH(QStringList, items);
        QFETCH(QStringList, selectedAfter);

        if (!pinned) {
            ui->setUnpinnedMode();
            // Unpinned local content carries no pin type.
            ui->setRows({ pinRow(kRec1, QString()), pinRow(kDirect, QString()), pinRow(kRec2, QString()) });
        }
        QList<int> rows;
        for (const QString& cid : selectedBefore)
            rows.append(ui->rowOf(cid));
        ui->selectRows(rows);

        QCOMPARE(ui->contextMenuAt(ui->rowOf(clicked)), items);
        QStringList expectedSelection;
        for (int row = 0; row < ui->proxy()->rowCount(); ++row) {
            const QString cid = ui->proxy()->index(row, 0).data(Qt::UserRole).toString();
            if (selectedAfter.contains(cid))
                expectedSelection.append(cid);
        }
        QCOMPARE(ui->selectedCidsInRowOrder(), expectedSelection);
    }

    void contextMenuBelowTheRowsOpensNothing()
    {
        ui->selectRows({ ui->rowOf(kRec1) });
        const QPoint belowRows(10, ui->table()->viewport()->height() - 2);
        QVERIFY(!ui->table()->indexAt(belowRows).isValid());
        QCOMPARE(ui->contextMenuAtPoint(belowRows), QStringList());
        QCOMPARE(ui->selectedCidsInRowOrder(), QStringList { kRec1 });
    }

    void contextMenuUnpinRemovesTheWholeSelection()
    {
        routeUnpin(node, *store);
        QSignalSpy requests(ui->client(), &IpfsClient::rpcRequestIssued);
        ui->selectRows({ ui->rowOf(kRec1), ui->rowOf(kDirect), ui->rowOf(kRec2) });
        QSignalSpy unpinned(ui->client(), &IpfsClient::unpinned);

        QCOMPARE(ui->contextMenuAt(ui->rowOf(kRec2), QStringLiteral("Unpin")),
            QStringList { QStringLiteral("Unpin") });
        // Every pin goes, the CIDv0 one listed in its CIDv1 form too.
        QVERIFY(unpinned.wait());
        QCOMPARE(store->pinnedCids(), QStringList());
        QCOMPARE(node->requestCount(QStringLiteral("/cid/format")), 0);

        // The answer: banner, status and a direct reload of the pins with the current filter.
        QTRY_COMPARE(ui->notification(), QStringLiteral("Unpinned 3 CID(s). Refreshing list\u2026"));
        QCOMPARE(ui->status(), QStringLiteral("Unpinned 3 CID(s)"));
        QList<QUrlQuery> loads;
        for (const QUrlQuery& query : issued(requests, QStringLiteral("/pin/ls"))) {
            if (!query.hasQueryItem(QStringLiteral("arg")))
                loads.append(query);
        }
        QCOMPARE(loads.size(), 2); // "recursive+direct" is two listings
        QCOMPARE(loads.at(0).queryItemValue(QStringLiteral("type")), QStringLiteral("recursive"));
        QCOMPARE(loads.at(1).queryItemValue(QStringLiteral("type")), QStringLiteral("direct"));
        QCOMPARE(loads.at(0).queryItemValue(QStringLiteral("cid-base")), QStringLiteral("base32"));
        QCOMPARE(
            loads.at(0).queryItemValue(QStringLiteral("upgrade-cidv0-in-output")), QStringLiteral("true"));
        // A direct reload: no new identity request, no refreshing state.
        QCOMPARE(issued(requests, QStringLiteral("/id")).size(), 0);
    }

    void unpinAllRemovesTheListedRows_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("removed");
        QTest::newRow("no search") << QString() << QStringList { kRec1, kDirect, kRec2 };
        QTest::newRow("a search shows one row") << kDirect.right(10) << QStringList { kDirect };
    }

    void unpinAllRemovesTheListedRows()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, removed);
        routeUnpin(node, *store);
        ui->proxy()->setFilterFixedString(search);
        QCOMPARE(ui->proxy()->rowCount(), removed.size());
        ui->table()->selectAll(); // a selection change enables the actions
        QSignalSpy unpinned(ui->client(), &IpfsClient::unpinned);
        QAction* unpinAll = ui->action(QStringLiteral("Unpin all listed CIDs"));
        QVERIFY(unpinAll && unpinAll->isEnabled());
        unpinAll->trigger();
        QVERIFY(unpinned.wait());
        QStringList reported = unpinned.first().first().toStringList();
        reported.sort();
        removed.sort();
        QCOMPARE(reported, removed);
        QCOMPARE(store->pinnedCids().size(), 3 - removed.size());
        QTRY_COMPARE(ui->status(), QStringLiteral("Unpinned %1 CID(s)").arg(removed.size()));
    }

    void unpinSelectedSendsTheSelection()
    {
        routeUnpin(node, *store);
        ui->selectRows({ ui->rowOf(kDirect) });
        QAction* unpinSelected = ui->action(QStringLiteral("Unpin selected"));
        QVERIFY(unpinSelected && unpinSelected->isEnabled());
        unpinSelected->trigger();
        QTRY_COMPARE(node->requestCount(QStringLiteral("/pin/rm")), 1);
        QCOMPARE(node->requests(QStringLiteral("/pin/rm")).first().queryValues(QStringLiteral("arg")),
            QStringList { kDirect });
        QTRY_COMPARE(ui->notification(), QStringLiteral("Unpinned 1 CID(s). Refreshing list\u2026"));
        // The "Unpinned" status returns to "Ready" after about 4 s.
        QTRY_COMPARE_WITH_TIMEOUT(ui->status(), QStringLiteral("Ready"), 10000);
    }

    // What the banner says when not everything went.
    void unpinSummary_data()
    {
        QTest::addColumn<QString>("typeFilter");
        QTest::addColumn<QString>("alreadyGone");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("banner");
        QTest::addColumn<bool>("reloads");
        const QString leftOut = QStringLiteral("1 indirect pin(s) left out: they go only with the pin that holds them.");
        QTest::newRow("one not pinned any more") << QString() << kRec2 << QString()
            << QStringLiteral("\u26A0  Unpinned 2 of 3 CID(s). 1 not pinned on the node. Refreshing list\u2026") << true;
        QTest::newRow("refused") << QString() << QString() << QStringLiteral("repo is read-only")
            << QStringLiteral("\u26A0  Unpin failed: repo is read-only.") << false;
        QTest::newRow("indirect rows of the all filter") << QStringLiteral("all") << QString() << QString()
            << QStringLiteral("Unpinned 3 CID(s). ") + leftOut + QStringLiteral(" Refreshing list\u2026") << true;
    }

    void unpinSummary()
    {
        QFETCH(QString, typeFilter);
        QFETCH(QString, alreadyGone);
        QFETCH(QString, refusal);
        QFETCH(bool, reloads);
        routeUnpin(node, *store);
        QList<PinEntry> rows = fixtureRows();
        if (!typeFilter.isEmpty()) {
            ui->typeFilterCombo()->setCurrentIndex(ui->typeFilterCombo()->findData(typeFilter));
            rows.append(pinRow(FakePinStore::nodeCid(QStringLiteral("a child"), 1), QStringLiteral("indirect")));
        }
        ui->setRows(rows);
        QCOMPARE(ui->proxy()->rowCount(), rows.size());
        if (!alreadyGone.isEmpty())
            store->pinRm(FakeKuboNode::Request { "POST", {}, { { QStringLiteral("arg"), alreadyGone } } });
        if (!refusal.isEmpty())
            node->route(QStringLiteral("/pin/rm"), FakeKuboNode::kuboError(refusal));
        const int loadsBefore = pinLoads(node);
        QSignalSpy finished(ui->client(), &IpfsClient::unpinFinished);
        ui->table()->selectAll();

        ui->action(QStringLiteral("Unpin all listed CIDs"))->trigger();
        QVERIFY(finished.wait());
        QTEST(ui->notification(), "banner");
        QTRY_COMPARE(pinLoads(node) > loadsBefore, reloads);
        if (!reloads) {
            QTest::qWait(50);
            QCOMPARE(pinLoads(node), loadsBefore);
            QCOMPARE(ui->model()->rowCount(), rows.size());
            QVERIFY(!statusLogMessages().join(u'\n').contains(QStringLiteral("Unpinned ")));
        }
    }

    void unpinActionsDoNothingWithoutPinnedSelection()
    {
        routeUnpin(node, *store);
        QMetaObject::invokeMethod(ui->get(), "onUnpinSelected"); // nothing selected
        ui->setUnpinnedMode();
        ui->setRows(fixtureRows());
        ui->table()->selectAll();
        QMetaObject::invokeMethod(ui->get(), "onUnpinSelected");
        QMetaObject::invokeMethod(ui->get(), "onUnpinAll");
        // A request sent after these would arrive before this one.
        ui->client()->fetchIpnsKeys();
        QTRY_COMPARE(node->requestCount(QStringLiteral("/key/list")), 1);
        QCOMPARE(node->requests(QStringLiteral("/pin/ls")).size(), pinLoads(node));
        QCOMPARE(node->requestCount(QStringLiteral("/pin/rm")), 0);
    }

    void unpinWhileShowingUnpinnedContentReloadsThatContent()
    {
        routeUnpin(node, *store);
        ui->setUnpinnedMode();
        QSignalSpy requests(ui->client(), &IpfsClient::rpcRequestIssued);
        // As the add flow does when it removes local pins after remote pinning.
        ui->client()->unpin({ kRec1 }, true);
        QTRY_COMPARE(ui->status(), QStringLiteral("Unpinned 1 CID(s)"));
        QCOMPARE(issued(requests, QStringLiteral("/refs/local")).size(), 1);
        // The pin half of the unpinned listing asks for all pins; no typed pin load goes out.
        const QList<QUrlQuery> pinLoads = issued(requests, QStringLiteral("/pin/ls"));
        for (const QUrlQuery& load : pinLoads) {
            if (!load.hasQueryItem(QStringLiteral("arg")))
                QCOMPARE(load.queryItemValue(QStringLiteral("type")), QStringLiteral("all"));
        }
    }

    void enablingRules_data()
    {
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<bool>("withRows");
        QTest::addColumn<bool>("withSelection");
        QTest::addColumn<bool>("unpinSelected");
        QTest::addColumn<bool>("publish");
        QTest::addColumn<bool>("unpinAll");
        QTest::newRow("pinned, selection") << true << true << true << true << true << true;
        QTest::newRow("pinned, no selection") << true << true << false << false << false << true;
        QTest::newRow("pinned, empty table") << true << false << false << false << false << false;
        QTest::newRow("unpinned, selection") << false << true << true << false << false << false;
    }

    void enablingRules()
    {
        QFETCH(bool, pinned);
        QFETCH(bool, withRows);
        QFETCH(bool, withSelection);
        if (!pinned)
            ui->setUnpinnedMode();
        ui->setRows(withRows ? fixtureRows() : QList<PinEntry>());
        // Start from the opposite of what is expected, then let a selection change decide.
        ui->table()->selectAll();
        if (!withSelection)
            ui->table()->clearSelection();
        QMetaObject::invokeMethod(ui->get(), "onSelectionChanged");

        QTEST(ui->action(QStringLiteral("Unpin selected"))->isEnabled(), "unpinSelected");
        QTEST(ui->action(QStringLiteral("Publish to &IPNS..."))->isEnabled(), "publish");
        QTEST(ui->action(QStringLiteral("Unpin all listed CIDs"))->isEnabled(), "unpinAll");
    }

    void selectionChangesUpdateTheActions()
    {
        QAction* unpinSelected = ui->action(QStringLiteral("Unpin selected"));
        QVERIFY(!unpinSelected->isEnabled());
        ui->selectRows({ ui->rowOf(kDirect) });
        QVERIFY(unpinSelected->isEnabled());
        QVERIFY(ui->action(QStringLiteral("Publish to &IPNS..."))->isEnabled());
        ui->table()->clearSelection();
        QVERIFY(!unpinSelected->isEnabled());
    }

    void copyJoinsTheSelectedCids()
    {
        ui->selectRows({ ui->rowOf(kRec1), ui->rowOf(kDirect) });
        ui->action(QStringLiteral("&Copy CID"))->trigger();
        const QStringList copied = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
        QCOMPARE(copied.size(), 2);
        QVERIFY(copied.contains(kRec1) && copied.contains(kDirect));
        QVERIFY(!QGuiApplication::clipboard()->text().endsWith(QLatin1Char('\n')));
        QCOMPARE(ui->status(), QStringLiteral("2 CID(s) copied to clipboard"));

        // A message that comes within the 3 s is not replaced by "Ready".
        ui->get()->setStatusMessage(QStringLiteral("Something else"));
        QTest::qWait(3500);
        QCOMPARE(ui->status(), QStringLiteral("Something else"));
    }

    void copyStatusReturnsToReady()
    {
        ui->selectRows({ ui->rowOf(kRec2) });
        QElapsedTimer clock;
        clock.start();
        ui->action(QStringLiteral("&Copy CID"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), kRec2);
        QCOMPARE(ui->status(), QStringLiteral("1 CID(s) copied to clipboard"));
        QTRY_COMPARE_WITH_TIMEOUT(ui->status(), QStringLiteral("Ready"), 10000);
        QVERIFY(clock.elapsed() >= 2500);
    }

    void copyWithoutSelectionDoesNothing()
    {
        const QString before = ui->status();
        ui->action(QStringLiteral("&Copy CID"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());
        QCOMPARE(ui->status(), before);
    }

    void doubleClick()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        // A non-recursive row copies the whole selection, not only the clicked row.
        ui->selectRows({ ui->rowOf(kDirect), ui->rowOf(kRec2) });
        emit ui->table()->doubleClicked(ui->proxy()->index(ui->rowOf(kDirect), 0));
        QCOMPARE(QGuiApplication::clipboard()->text().split(QLatin1Char('\n')).size(), 2);
        QVERIFY(ui->get()->findChildren<IndirectPinsDialog*>().isEmpty());

        // A recursive row opens its indirect pins, also twice for the same CID.
        QGuiApplication::clipboard()->clear();
        emit ui->table()->doubleClicked(ui->proxy()->index(ui->rowOf(kRec1), 2));
        emit ui->table()->doubleClicked(ui->proxy()->index(ui->rowOf(kRec1), 0));
        const QList<IndirectPinsDialog*> dialogs = ui->get()->findChildren<IndirectPinsDialog*>();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(dialogs.first()->isVisible());
        QVERIFY(dialogs.first()->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(dialogs.first()->windowTitle().contains(kRec1.left(40)));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());

        emit ui->table()->doubleClicked(QModelIndex());
        QCOMPARE(ui->get()->findChildren<IndirectPinsDialog*>().size(), 2);
    }

    void contextMenuOpensPinWindows()
    {
        node->route(QStringLiteral("/refs"), FakeKuboNode::held());
        node->route(QStringLiteral("/ls"), FakeKuboNode::held());
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::held());
        ui->contextMenuAt(ui->rowOf(kRec1), QStringLiteral("Show indirect pins"));
        QTRY_COMPARE(ui->get()->findChildren<IndirectPinsDialog*>().size(), 1);
        ui->contextMenuAt(ui->rowOf(kRec1), QStringLiteral("List files / Export\u2026"));
        const QList<PinContentsDialog*> contents = ui->get()->findChildren<PinContentsDialog*>();
        QCOMPARE(contents.size(), 1);
        QVERIFY(contents.first()->isVisible());
        QVERIFY(contents.first()->testAttribute(Qt::WA_DeleteOnClose));
        QTRY_COMPARE(node->requests(QStringLiteral("/ls")).value(0).queryValue(QStringLiteral("arg")), kRec1);

        // They close on their own; the window keeps no pointer to them.
        QPointer<PinContentsDialog> closed = contents.first();
        closed->close();
        QTRY_VERIFY(!closed);
    }

    void gatewayLinks_data()
    {
        QTest::addColumn<QString>("cid");
        QTest::addColumn<QString>("encodedPath");
        QTest::newRow("plain CID") << kRec1 << QStringLiteral("/ipfs/") + kRec1;
        QTest::newRow("hostile text stays in the path") << QStringLiteral(
            "x@evil.example:81/../y?z#w%41") << QStringLiteral("/ipfs/x%40evil.example%3A81/y%3Fz%23w%2541");
        QTest::newRow("leading slashes")
            << QStringLiteral("//evil.example/a") << QStringLiteral("/ipfs/evil.example/a");
    }

    void gatewayLinks()
    {
        QFETCH(QString, cid);
        QFETCH(QString, encodedPath);
        ui->setRows({ pinRow(cid, QStringLiteral("direct")) });
        ui->selectRows({ 0 });

        ui->action(QStringLiteral("Open from &gateway"))->trigger();
        QCOMPARE(recorder.urls.size(), 1);
        const QUrl publicUrl = recorder.urls.first();
        QCOMPARE(publicUrl.scheme(), QStringLiteral("https"));
        QCOMPARE(publicUrl.host(), QUrl(QString(kPublicGatewayBaseUrl)).host());
        QCOMPARE(publicUrl.path(QUrl::FullyEncoded), encodedPath);
        QVERIFY(!publicUrl.hasQuery() && !publicUrl.hasFragment());
        QCOMPARE(ui->status(), QStringLiteral("Opening %1 in browser\u2026").arg(cid));

        // The node's own gateway: port 8080 on the RPC host, whatever the RPC port.
        ui->action(QStringLiteral("Open from &local"))->trigger();
        QCOMPARE(recorder.urls.size(), 2);
        const QUrl localUrl = recorder.urls.last();
        QCOMPARE(localUrl.scheme(), QStringLiteral("http"));
        QCOMPARE(localUrl.host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(localUrl.port(), 8080);
        QCOMPARE(localUrl.path(QUrl::FullyEncoded), encodedPath);
        QVERIFY(!localUrl.hasQuery() && !localUrl.hasFragment());
        QCOMPARE(ui->status(), QStringLiteral("Opening %1 from local gateway\u2026").arg(cid));
        if (qstrcmp(QTest::currentDataTag(), "plain CID") == 0)
            QTRY_COMPARE_WITH_TIMEOUT(ui->status(), QStringLiteral("Ready"), 10000);
    }

    void gatewayLinksNeedASelection()
    {
        ui->action(QStringLiteral("Open from &gateway"))->trigger();
        ui->action(QStringLiteral("Open from &local"))->trigger();
        QCOMPARE(recorder.urls.size(), 0);
        ui->setRows({ pinRow(QString(), QStringLiteral("direct")) });
        ui->selectRows({ 0 });
        ui->action(QStringLiteral("Open from &gateway"))->trigger();
        QCOMPARE(recorder.urls.size(), 0);
    }

    void localGatewayUrlHosts_data()
    {
        QTest::addColumn<QString>("rpcHost");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ipv4") << QStringLiteral("127.0.0.1")
                              << QStringLiteral("http://127.0.0.1:8080/ipfs/bafy");
        QTest::newRow("name") << QStringLiteral("node.lan")
                              << QStringLiteral("http://node.lan:8080/ipfs/bafy");
        QTest::newRow("ipv6") << QStringLiteral("::1") << QStringLiteral("http://[::1]:8080/ipfs/bafy");
        QTest::newRow("bracketed ipv6")
            << QStringLiteral("[::1]") << QStringLiteral("http://[::1]:8080/ipfs/bafy");
        QTest::newRow("host with a path") << QStringLiteral("evil.example/x?") << QString();
        QTest::newRow("host with user info") << QStringLiteral("a@evil.example") << QString();
    }

    void localGatewayUrlHosts()
    {
        QFETCH(QString, rpcHost);
        QFETCH(QString, expected);
        const QUrl url = localGatewayUrl(rpcHost, QStringLiteral("bafy"));
        if (expected.isEmpty())
            QVERIFY2(!url.isValid(), qPrintable(url.toString()));
        else
            QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
    }

    void settingsDialogStartsFromTheWindowsState()
    {
        SettingsDialog* seen = nullptr;
        QString host, origin, filter;
        int port = 0, interval = 0;
        bool autoRefresh = true, metadata = false, sendOrigin = true;
        ModalDialogDriver::answerNext([&](QWidget* widget) {
            seen = qobject_cast<SettingsDialog*>(widget);
            if (seen) {
                host = seen->host();
                port = seen->port();
                filter = seen->pinTypeFilter();
                interval = seen->refreshIntervalSeconds();
                autoRefresh = seen->autoRefresh();
                metadata = seen->loadMetadata();
                sendOrigin = seen->sendOrigin();
                origin = seen->originValue();
                // Changes that are cancelled change nothing.
                seen->setHost(QStringLiteral("10.1.2.3"));
                seen->setAutoRefresh(true);
                seen->setSendOrigin(true);
                seen->restoreDefaults();
                seen->setPinTypeFilter(QStringLiteral("direct"));
            }
            qobject_cast<QDialog*>(widget)->reject();
        });
        QMetaObject::invokeMethod(ui->get(), "onSettingsClicked");
        QVERIFY(seen);
        QCOMPARE(host, node->host());
        QCOMPARE(port, int(node->port()));
        QCOMPARE(filter, QStringLiteral("recursive+direct"));
        QCOMPARE(interval, 30);
        QVERIFY(!autoRefresh);
        QVERIFY(metadata);
        QVERIFY(!sendOrigin);
        QCOMPARE(origin, defaultHttpOriginValue());

        QCOMPARE(ui->client()->endpointHost(), node->host());
        QCOMPARE(ui->typeFilterCombo()->currentData().toString(), QStringLiteral("recursive+direct"));
        QVERIFY(!appSettings().contains(QStringLiteral("http/sendOrigin")));
    }

    void settingsApplySequence()
    {
        FakeKuboNode other;
        QVERIFY(other.start());
        other.route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        other.route(QStringLiteral("/id"), FakeKuboNode::json("{\"ID\":\"x\",\"AgentVersion\":\"kubo\"}"));
        other.route(QStringLiteral("/key/list"), FakeKuboNode::json("{\"Keys\":[]}"));
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(other.port());

        ModalDialogDriver::answerNext([&](QWidget* widget) {
            auto* dialog = qobject_cast<SettingsDialog*>(widget);
            QVERIFY(dialog);
            dialog->setHost(QStringLiteral("  127.0.0.1  "));
            dialog->setPort(other.port());
            dialog->setPinTypeFilter(QStringLiteral("direct"));
            dialog->setRefreshIntervalSeconds(7);
            dialog->setAutoRefresh(true);
            dialog->setLoadMetadata(false);
            dialog->setSendOrigin(true);
            dialog->setOriginValue(QStringLiteral("  ") + origin + QStringLiteral("\r\n"));
            dialog->accept();
        });
        QMetaObject::invokeMethod(ui->get(), "onSettingsClicked");

        QCOMPARE(ui->client()->endpointHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ui->client()->endpointPort(), other.port());
        // Written and synced at once: a fresh store sees them.
        QCOMPARE(appSettings().value(QStringLiteral("http/sendOrigin")).toBool(), true);
        QCOMPARE(appSettings().value(QStringLiteral("http/originValue")).toString(), origin);
        QCOMPARE(ui->typeFilterCombo()->currentData().toString(), QStringLiteral("direct"));

        const QTimer* autoRefreshTimer = ui->get()->findChild<QTimer*>(QStringLiteral("autoRefreshTimer"));
        QVERIFY(autoRefreshTimer->isActive());
        QCOMPARE(autoRefreshTimer->interval(), 7000);

        // The new filter reloads at once from the new endpoint, with the Origin header.
        QTRY_COMPARE(other.requestCount(QStringLiteral("/pin/ls")), 1);
        const FakeKuboNode::Request load = other.requests(QStringLiteral("/pin/ls")).first();
        QCOMPARE(load.queryValue(QStringLiteral("type")), QStringLiteral("direct"));
        QCOMPARE(load.header("Origin"), origin.toUtf8());
        ui->client()->fetchIpnsKeys();
        QTRY_COMPARE(other.requestCount(QStringLiteral("/key/list")), 1);
        QCOMPARE(other.requests(QStringLiteral("/key/list")).first().header("Origin"), origin.toUtf8());

        // Turning auto-refresh off stops the timer.
        ModalDialogDriver::answerNext([](QWidget* widget) {
            auto* dialog = qobject_cast<SettingsDialog*>(widget);
            dialog->setAutoRefresh(false);
            dialog->accept();
        });
        QMetaObject::invokeMethod(ui->get(), "onSettingsClicked");
        QVERIFY(!autoRefreshTimer->isActive());
    }

    void settingsAcceptedUnchangedStartsAnUnforcedRefresh()
    {
        // Let the start-up load finish, so a plain refresh may proceed.
        QTRY_VERIFY(node->heldCount(QStringLiteral("/pin/ls")) >= 1);
        node->route(QStringLiteral("/pin/ls"), FakeKuboNode::json(""));
        node->releaseHeld(QStringLiteral("/pin/ls"), FakeKuboNode::json(""));
        QPushButton* refresh = ui->get()->findChild<QPushButton*>(QStringLiteral("refreshBtn"));
        QTRY_VERIFY(refresh->isEnabled());
        QSignalSpy requests(ui->client(), &IpfsClient::rpcRequestIssued);

        ModalDialogDriver::answerNext([](QWidget* widget) { qobject_cast<QDialog*>(widget)->accept(); });
        QMetaObject::invokeMethod(ui->get(), "onSettingsClicked");
        QCOMPARE(issued(requests, QStringLiteral("/pin/ls")).size(), 2);
        QVERIFY(!refresh->isEnabled());
    }
};

QTEST_MAIN(TestPinActions)
#include "tst_pinactions.moc"
