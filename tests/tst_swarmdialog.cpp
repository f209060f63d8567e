#include <QtTest>

#include "displaytext.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "modaldialogdriver.h"
#include "networkfixtures.h"
#include "swarmdialog.h"
#include "testsettings.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

using namespace Qt::StringLiterals;
using namespace NetworkFixtures;

namespace {

// What the remove-all question offered, and that it was answered.
struct MessageBoxAnswer {
    QString title;
    QString text;
    bool defaultIsNo = false;
    bool answered = false;
};

// Presses `button` on the next message box; NoButton closes it without an answer.
void answerNextMessageBox(QMessageBox::StandardButton button, MessageBoxAnswer* seen)
{
    ModalDialogDriver::answerNext([button, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        seen->answered = true;
        if (button == QMessageBox::NoButton)
            box->reject();
        else
            box->button(button)->click();
    });
}

QStringList column(const QTableWidget* table, int col = 0)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, col) ? table->item(row, col)->text() : QString());
    return texts;
}

QStringList visibleRows(const QTableWidget* table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row))
            texts << table->item(row, 0)->text();
    }
    return texts;
}

} // namespace

class TestSwarmDialog : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    SwarmDialog* dialog = nullptr;
    QSignalSpy* status = nullptr;

    template <typename T> T* child(const char* name) const
    {
        T* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QLabel* statusLabel() const { return child<QLabel>("statusLabel"); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QTableWidget* table(const char* name) const { return child<QTableWidget>(name); }
    QStringList statusMessages() const
    {
        QStringList list;
        for (const auto& args : *status)
            list << args.first().toString();
        return list;
    }

    void routeDefaults()
    {
        node->route(u"/swarm/peers"_s,
            FakeKuboNode::json(R"({"Peers":[{"Addr":"/ip4/1.1.1.1/tcp/1","Peer":"pa"},)"
                               R"({"Addr":"/ip4/2.2.2.2/tcp/2","Peer":"pb"}]})"));
        node->route(
            u"/swarm/addrs"_s, FakeKuboNode::json(R"({"Addrs":{"pz":["/z1","/z2"],"pa":["/a1"],"Pm":[]}})"));
        node->route(u"/swarm/addrs/listen"_s,
            FakeKuboNode::json(toJson(stringsReply({ u"/ip4/0.0.0.0/tcp/4001"_s }))));
        routeBootstrapLikeANode({ u"/dnsaddr/one"_s, u"/dnsaddr/two"_s, u"/dnsaddr/three"_s });
    }

    // The bootstrap commands as a node answers them: add and rm report only the peers they added
    // or removed; the list command alone reports the list.
    QStringList nodeBootstrap;
    void routeBootstrapLikeANode(const QStringList& initial)
    {
        nodeBootstrap = initial;
        const auto answer
            = [](const QStringList& peers) { return FakeKuboNode::json(toJson(bootstrapReply(peers))); };
        node->route(u"/bootstrap/list"_s,
            [this, answer](const FakeKuboNode::Request&) { return answer(nodeBootstrap); });
        node->route(u"/bootstrap/add"_s, [this, answer](const FakeKuboNode::Request& request) {
            QStringList added;
            for (const QString& peer : request.queryValues(u"arg"_s)) {
                if (!nodeBootstrap.contains(peer)) {
                    nodeBootstrap.append(peer);
                    added.append(peer);
                }
            }
            return answer(added);
        });
        node->route(u"/bootstrap/rm"_s, [this, answer](const FakeKuboNode::Request& request) {
            QStringList removed;
            for (const QString& peer : request.queryValues(u"arg"_s)) {
                if (nodeBootstrap.removeAll(peer) > 0)
                    removed.append(peer);
            }
            return answer(removed);
        });
        node->route(u"/bootstrap/rm/all"_s, [this, answer](const FakeKuboNode::Request&) {
            const QStringList removed = nodeBootstrap;
            nodeBootstrap.clear();
            return answer(removed);
        });
    }

    // Shows the window and waits until its first refresh has finished.
    void openLoaded()
    {
        dialog->show();
        QTRY_VERIFY(button("refreshButton")->isEnabled());
        QCOMPARE(table("bootstrapTable")->rowCount(), 3);
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        dialog = new SwarmDialog(client, nullptr);
        status = new QSignalSpy(dialog, &SwarmDialog::statusMessageRequested);
        routeDefaults();
    }

    void cleanup()
    {
        delete status;
        delete dialog;
        delete client;
        delete node;
    }

    void firstShowRefreshesEverything()
    {
        for (const QString& command :
            { u"/swarm/peers"_s, u"/swarm/addrs"_s, u"/swarm/addrs/listen"_s, u"/bootstrap/list"_s })
            node->route(command, FakeKuboNode::held());
        QVERIFY(!button("bootstrapRemoveAllButton")->isEnabled());
        // Nothing has loaded: no count is known yet.
        QCOMPARE(child<QLabel>("summaryLabel")->text(),
            u"Connected peers: unknown | Listen addrs: unknown | Known peers: unknown | Bootstrap peers: "
            "unknown"_s);
        dialog->show();
        QCOMPARE(statusLabel()->text(), u"Loading swarm diagnostics..."_s);
        QCOMPARE(statusMessages(), QStringList { u"Fetching swarm and bootstrap diagnostics..."_s });
        QTRY_COMPARE(node->heldCount(), 4);
        QVERIFY(!button("refreshButton")->isEnabled());
        QVERIFY(!button("refreshBootstrapButton")->isEnabled());

        node->releaseHeld(u"/swarm/peers"_s, FakeKuboNode::json(R"({"Peers":[{"Peer":"p1"}]})"));
        node->releaseHeld(
            u"/swarm/addrs"_s, FakeKuboNode::json(R"({"Addrs":{"pz":["/z1","/z2"],"pa":["/a1"],"Pm":[]}})"));
        node->releaseHeld(u"/swarm/addrs/listen"_s, FakeKuboNode::json(R"({"Strings":["/l1","/l2"]})"));
        QTRY_COMPARE(table("knownAddrsTable")->rowCount(), 3);
        QVERIFY(!button("refreshButton")->isEnabled()); // three of four parts in
        node->releaseHeld(u"/bootstrap/list"_s, FakeKuboNode::json(R"({"Peers":["/b"]})"));
        QTRY_VERIFY(button("refreshButton")->isEnabled());
        QVERIFY(button("refreshBootstrapButton")->isEnabled());

        QCOMPARE(column(table("peersTable")), QStringList { u"p1"_s });
        QCOMPARE(column(table("listenTable")), (QStringList { u"/l1"_s, u"/l2"_s }));
        // Sorted by id, case-sensitively; addresses one per line in one cell.
        QCOMPARE(column(table("knownAddrsTable")), (QStringList { u"Pm"_s, u"pa"_s, u"pz"_s }));
        QCOMPARE(column(table("knownAddrsTable"), 1), (QStringList { QString(), u"/a1"_s, u"/z1\n/z2"_s }));
        QVERIFY(table("knownAddrsTable")->rowHeight(2) > table("knownAddrsTable")->rowHeight(1)); // two lines
        QCOMPARE(child<QLabel>("summaryLabel")->text(),
            u"Connected peers: 1 | Listen addrs: 2 | Known peers: 3 | Bootstrap peers: 1"_s);
        QVERIFY(button("bootstrapRemoveAllButton")->isEnabled());
        QVERIFY(QRegularExpression(u"^Swarm diagnostics loaded at \\d\\d:\\d\\d:\\d\\d$"_s)
                    .match(statusLabel()->text())
                    .hasMatch());
        QCOMPARE(statusLabel()->styleSheet(), QString());
        QCOMPARE(statusMessages().last(), u"Swarm diagnostics loaded"_s);

        // Shown again with data: no reload.
        dialog->hide();
        dialog->show();
        QTest::qWait(20);
        QCOMPARE(node->requestCount(u"/swarm/peers"_s), 1);
    }

    void failedPartStillCompletesRefresh_data()
    {
        QTest::addColumn<QStringList>("failing"); // commands that answer an error
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("finalStatus");
        QTest::newRow("listen addresses")
            << QStringList { u"/swarm/addrs/listen"_s }
            << u"Connected peers: 2 | Listen addrs: unknown | Known peers: 3 | Bootstrap peers: 3"_s
            << u"Swarm diagnostics loaded with errors"_s;
        // An offline daemon keeps its bootstrap list but has no swarm.
        QTest::newRow("offline node")
            << QStringList { u"/swarm/peers"_s, u"/swarm/addrs"_s, u"/swarm/addrs/listen"_s }
            << u"Connected peers: unknown | Listen addrs: unknown | Known peers: unknown | Bootstrap peers: 3"_s
            << u"Swarm diagnostics loaded with errors"_s;
        QTest::newRow("everything")
            << QStringList { u"/swarm/peers"_s, u"/swarm/addrs"_s, u"/swarm/addrs/listen"_s,
                   u"/bootstrap/list"_s }
            << u"Connected peers: unknown | Listen addrs: unknown | Known peers: unknown | Bootstrap peers: "
               "unknown"_s
            << u"Swarm diagnostics failed to load"_s;
    }

    void failedPartStillCompletesRefresh()
    {
        QFETCH(QStringList, failing);
        for (const QString& command : std::as_const(failing))
            node->route(command, FakeKuboNode::kuboError(u"%1 broke"_s.arg(command)));
        dialog->show();
        QTRY_VERIFY(button("refreshButton")->isEnabled());
        QVERIFY(button("refreshBootstrapButton")->isEnabled());
        QVERIFY(statusLabel()->text().startsWith("Failed to "_L1));
        QCOMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QCOMPARE(table("peersTable")->rowCount(), failing.contains(u"/swarm/peers"_s) ? 0 : 2);
        QCOMPARE(table("listenTable")->rowCount(), 0);
        if (failing == QStringList { u"/swarm/addrs/listen"_s })
            QVERIFY(statusMessages().contains(u"Swarm listen error: "_s + statusLabel()->text()));
        QTEST(child<QLabel>("summaryLabel")->text(), "summary");
        QTEST(statusMessages().last(), "finalStatus");
        QVERIFY(!statusMessages().contains(u"Swarm diagnostics loaded"_s));
    }

    void failedListAfterALoadMakesItsCountUnknown()
    {
        openLoaded();
        node->route(u"/swarm/peers"_s, FakeKuboNode::kuboError(u"peers broke"_s));
        client->fetchSwarmPeers(); // as the network window's refresh does
        QTRY_COMPARE(child<QLabel>("summaryLabel")->text(),
            u"Connected peers: unknown | Listen addrs: 1 | Known peers: 3 | Bootstrap peers: 3"_s);
    }

    void refreshBootstrapWhileIdleTouchesNoButton()
    {
        openLoaded();
        status->clear();
        node->route(u"/bootstrap/list"_s, FakeKuboNode::json(R"({"Peers":["/only"]})"));
        button("refreshBootstrapButton")->click();
        QVERIFY(button("refreshButton")->isEnabled());
        QVERIFY(button("refreshBootstrapButton")->isEnabled());
        QCOMPARE(statusLabel()->text(), u"Loading bootstrap peers..."_s);
        QTRY_COMPARE(table("bootstrapTable")->rowCount(), 1);
        QVERIFY(button("refreshButton")->isEnabled());
        QCOMPARE(statusMessages(), QStringList { u"Fetching bootstrap peers..."_s }); // no "loaded"
    }

    void connectFailureAndSuccess()
    {
        openLoaded();
        button("connectButton")->click();
        QCOMPARE(statusLabel()->text(), u"Peer multiaddr is required."_s);
        QCOMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QCOMPARE(statusMessages().last(), u"Swarm connect failed: peer multiaddr is required"_s);
        QCOMPARE(node->requestCount(u"/swarm/connect"_s), 0);

        node->route(u"/swarm/connect"_s, FakeKuboNode::kuboError(u"dial refused"_s));
        child<QLineEdit>("peerEdit")->setText(u"  /ip4/9.9.9.9/tcp/1  "_s);
        button("connectButton")->click();
        QCOMPARE(statusLabel()->text(), u"Connecting to /ip4/9.9.9.9/tcp/1..."_s);
        QTRY_COMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QVERIFY(statusLabel()->text().contains("dial refused"_L1));
        QTest::qWait(50);
        QCOMPARE(node->requestCount(u"/swarm/peers"_s), 1); // a failure does not reload

        node->route(u"/swarm/connect"_s, FakeKuboNode::json(R"({"Strings":["connect p success","extra"]})"));
        button("connectButton")->click();
        QTRY_COMPARE(statusLabel()->text(), u"Connect: connect p success | extra"_s);
        QCOMPARE(statusMessages().last(), u"Swarm connect success: /ip4/9.9.9.9/tcp/1"_s);
        QTRY_COMPARE(node->requestCount(u"/swarm/peers"_s), 2);
    }

    void disconnectTakesSelectedRowOverField()
    {
        openLoaded();
        // As a node does: a disconnect needs the peer's id in the address.
        node->route(u"/swarm/disconnect"_s, [](const FakeKuboNode::Request& request) {
            return request.queryValue(u"arg"_s).contains("/p2p/"_L1)
                ? FakeKuboNode::json("{}")
                : FakeKuboNode::kuboError(u"invalid p2p multiaddr"_s);
        });
        child<QLineEdit>("peerEdit")->setText(u"/ip4/3.3.3.3/tcp/3/p2p/pc"_s);
        table("peersTable")->selectRow(1);
        button("disconnectButton")->click();
        QTRY_COMPARE(statusLabel()->text(), u"Disconnect: Disconnected."_s);
        QCOMPARE(node->requests(u"/swarm/disconnect"_s).first().queryValue(u"arg"_s),
            u"/ip4/2.2.2.2/tcp/2/p2p/pb"_s);

        // A selected row the filter hides is not the target: the field is.
        QTRY_COMPARE(node->requestCount(u"/swarm/peers"_s), 2); // the reload after the disconnect
        QTRY_COMPARE(table("peersTable")->rowCount(), 2);
        table("peersTable")->selectRow(1);
        child<QLineEdit>("filterEdit")->setText(u"1.1.1.1"_s);
        button("disconnectButton")->click();
        QTRY_COMPARE(node->requestCount(u"/swarm/disconnect"_s), 2);
        QCOMPARE(node->requests(u"/swarm/disconnect"_s).last().queryValue(u"arg"_s),
            u"/ip4/3.3.3.3/tcp/3/p2p/pc"_s);

        child<QLineEdit>("filterEdit")->clear();
        table("peersTable")->clearSelection();
        child<QLineEdit>("peerEdit")->clear();
        button("disconnectButton")->click();
        QCOMPARE(statusLabel()->text(), u"Select a connected peer row or enter a multiaddr."_s);
        QCOMPARE(statusMessages().last(), u"Swarm disconnect failed: no target selected"_s);
    }

    void removeSelectedSendsRowsOrField()
    {
        openLoaded();
        QTableWidget* bootstrap = table("bootstrapTable");
        bootstrap->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 0), true);
        bootstrap->setRangeSelected(QTableWidgetSelectionRange(2, 0, 2, 0), true);
        button("bootstrapRemoveSelectedButton")->click();
        QCOMPARE(statusLabel()->text(), u"Removing 2 bootstrap peer(s)..."_s);
        QTRY_COMPARE(statusLabel()->text(), u"Removed 2 bootstrap peer(s)."_s);
        QCOMPARE(node->requests(u"/bootstrap/rm"_s).first().queryValues(u"arg"_s),
            (QStringList { u"/dnsaddr/one"_s, u"/dnsaddr/three"_s }));
        QCOMPARE(statusMessages().last(), u"Bootstrap peers removed: 2"_s);
        // The node answered with the removed peers; the table shows what is left on the node.
        QTRY_COMPARE(column(bootstrap), QStringList { u"/dnsaddr/two"_s });
        QCOMPARE(child<QLabel>("summaryLabel")->text(),
            u"Connected peers: 2 | Listen addrs: 1 | Known peers: 3 | Bootstrap peers: 1"_s);
        QCOMPARE(statusLabel()->text(), u"Removed 2 bootstrap peer(s)."_s); // the re-read keeps it

        bootstrap->clearSelection();
        child<QLineEdit>("bootstrapEdit")->setText(u" /dnsaddr/two "_s);
        button("bootstrapRemoveSelectedButton")->click();
        QTRY_COMPARE(node->requestCount(u"/bootstrap/rm"_s), 2);
        QCOMPARE(node->requests(u"/bootstrap/rm"_s).last().queryValues(u"arg"_s),
            QStringList { u"/dnsaddr/two"_s });
        QTRY_COMPARE(bootstrap->rowCount(), 0);
        QVERIFY(!button("bootstrapRemoveAllButton")->isEnabled());

        child<QLineEdit>("bootstrapEdit")->clear();
        QCOMPARE(statusLabel()->text(), u"Removed 1 bootstrap peer(s)."_s);
        button("bootstrapRemoveSelectedButton")->click();
        QCOMPARE(statusLabel()->text(), u"Select bootstrap peers to remove or enter one in the field."_s);
        QCOMPARE(statusMessages().last(), u"Bootstrap remove failed: no peer selected"_s);
    }

    // Rows hidden by the filter are not removed even when still selected.
    void removeSelectedSkipsFilteredOutRows()
    {
        openLoaded();
        table("bootstrapTable")->selectAll();
        child<QLineEdit>("filterEdit")->setText(u"T"_s); // "two", "three"
        button("bootstrapRemoveSelectedButton")->click();
        QTRY_COMPARE(node->requestCount(u"/bootstrap/rm"_s), 1);
        QCOMPARE(node->requests(u"/bootstrap/rm"_s).first().queryValues(u"arg"_s),
            (QStringList { u"/dnsaddr/two"_s, u"/dnsaddr/three"_s }));
    }

    void removeAllAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("sent");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
        QTest::newRow("closed") << int(QMessageBox::NoButton) << false;
    }
    void removeAllAsksFirst()
    {
        QFETCH(int, answer);
        QFETCH(bool, sent);
        openLoaded();
        MessageBoxAnswer seen;
        answerNextMessageBox(QMessageBox::StandardButton(answer), &seen);
        button("bootstrapRemoveAllButton")->click();
        QVERIFY(seen.answered);
        QCOMPARE(seen.title, u"Remove all bootstrap peers"_s);
        QCOMPARE(
            seen.text, u"This will remove all bootstrap peers from your local Kubo node.\n\nContinue?"_s);
        QVERIFY(seen.defaultIsNo);
        if (!sent) {
            QTest::qWait(50);
            QCOMPARE(node->requestCount(u"/bootstrap/rm/all"_s), 0);
            QCOMPARE(table("bootstrapTable")->rowCount(), 3);
            return;
        }
        QCOMPARE(statusLabel()->text(), u"Removing all bootstrap peers..."_s);
        // The node reports the three removed peers; the list read again is empty.
        QTRY_COMPARE(table("bootstrapTable")->rowCount(), 0);
        QCOMPARE(statusLabel()->text(), u"Removed all bootstrap peers."_s);
        QVERIFY(!button("bootstrapRemoveAllButton")->isEnabled());
        QCOMPARE(child<QLabel>("summaryLabel")->text(),
            u"Connected peers: 2 | Listen addrs: 1 | Known peers: 3 | Bootstrap peers: 0"_s);
    }

    void bootstrapAdd()
    {
        openLoaded();
        button("bootstrapAddButton")->click();
        QCOMPARE(statusLabel()->text(), u"Bootstrap peer address is required."_s);
        QCOMPARE(statusMessages().last(), u"Bootstrap add failed: peer address is required"_s);

        child<QLineEdit>("bootstrapEdit")->setText(u"/new"_s);
        button("bootstrapAddButton")->click();
        QCOMPARE(statusLabel()->text(), u"Adding bootstrap peer /new..."_s);
        QTRY_COMPARE(statusLabel()->text(), u"Added bootstrap peer: /new"_s);
        QCOMPARE(statusMessages().last(), u"Bootstrap peer added: /new"_s);
        // The node answered with the added peer only; the table shows the whole list.
        const QStringList all { u"/dnsaddr/one"_s, u"/dnsaddr/two"_s, u"/dnsaddr/three"_s, u"/new"_s };
        QTRY_COMPARE(column(table("bootstrapTable")), all);
        QCOMPARE(node->requestCount(u"/bootstrap/list"_s), 2);

        node->route(u"/bootstrap/add"_s, FakeKuboNode::kuboError(u"bad multiaddr"_s, 1));
        button("bootstrapAddButton")->click();
        QTRY_COMPARE(statusLabel()->styleSheet(), errorTextStyle());
        QVERIFY(
            statusMessages().last().startsWith("Bootstrap error: Failed to add bootstrap peer /new: "_L1));
        QTest::qWait(50);
        QCOMPARE(column(table("bootstrapTable")), all); // kept, and not read again
        QCOMPARE(node->requestCount(u"/bootstrap/list"_s), 2);
    }

    void filterMatchesAnyCellIgnoringCase()
    {
        openLoaded();
        auto* filter = child<QLineEdit>("filterEdit");
        filter->setText(u"TWO"_s);
        QCOMPARE(visibleRows(table("bootstrapTable")), QStringList { u"/dnsaddr/two"_s });
        QCOMPARE(visibleRows(table("peersTable")), QStringList());
        filter->setText(u"/Z2"_s); // second cell of a known-addresses row
        QCOMPARE(visibleRows(table("knownAddrsTable")), QStringList { u"pz"_s });
        filter->setText(u"   "_s);
        QCOMPARE(visibleRows(table("bootstrapTable")).size(), 3);
        QCOMPARE(visibleRows(table("knownAddrsTable")).size(), 3);

        // New data is filtered as it arrives.
        filter->setText(u"2.2.2.2"_s);
        button("refreshButton")->click();
        QTRY_VERIFY(button("refreshButton")->isEnabled());
        QCOMPARE(visibleRows(table("peersTable")), QStringList { u"/ip4/2.2.2.2/tcp/2/p2p/pb"_s });

        SwarmDialog::applyTableFilter(nullptr, u"x"_s); // harmless
    }

    // A busy node: thousands of peers, each with several addresses.
    void busyNodeFillsEveryTab()
    {
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(5000))));
        node->route(u"/swarm/addrs"_s, FakeKuboNode::json(toJson(swarmAddrsReply(5000, 4))));
        openLoaded();
        QCOMPARE(table("peersTable")->rowCount(), 5000);
        QCOMPARE(table("knownAddrsTable")->rowCount(), 5000);
        child<QLineEdit>("filterEdit")->setText(u"peer4999"_s);
        QCOMPARE(visibleRows(table("knownAddrsTable")), QStringList { u"12D3KooWpeer4999"_s });
    }
};

QTEST_MAIN(TestSwarmDialog)
#include "tst_swarmdialog.moc"
