#include <QtTest>

#include "dhtstatsdialog.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "networkfixtures.h"
#include "networkstatsdialog.h"
#include "swarmdialog.h"
#include "testsettings.h"

#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace NetworkFixtures;

// The network windows listen to the same client signals, so each takes in the answers to
// the others' requests.
class TestNetworkSharing : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;

    template <typename T> static T* child(QWidget* window, const char* name)
    {
        T* widget = window->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    static QJsonObject snapshotOf(NetworkStatsDialog* window)
    {
        return QJsonDocument::fromJson(child<QTextEdit>(window, "jsonEdit")->toPlainText().toUtf8()).object();
    }

private slots:
    void initTestCase() { useIsolatedTestSettings(); }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(3))));
        node->route(u"/swarm/addrs"_s, FakeKuboNode::json(toJson(swarmAddrsReply(3, 1))));
        node->route(u"/swarm/addrs/listen"_s, FakeKuboNode::json(toJson(stringsReply({ u"/l"_s }))));
        node->route(u"/bootstrap/list"_s, FakeKuboNode::json(toJson(bootstrapReply({ u"/b"_s }))));
        node->route(u"/bitswap/stat"_s, FakeKuboNode::json(toJson(bitswapReply(1, 1))));
    }

    void cleanup()
    {
        delete client;
        delete node;
    }

    void dhtAnswersReachBothWindows()
    {
        appSettings().setValue(u"DhtStatsDialog/dhtArg"_s, u"lan"_s);
        node->route(u"/stats/dht"_s, [](const FakeKuboNode::Request& request) {
            // One table when asked for one, both otherwise.
            return FakeKuboNode::json(request.queryValue(u"arg"_s).isEmpty()
                    ? dhtLinesBody(2, 1, 3)
                    : toJson(dhtObject(u"lan"_s, 1, 3)));
        });
        DhtStatsDialog dhtWindow(client, nullptr);
        QSignalSpy dhtStatus(&dhtWindow, &DhtStatsDialog::statusMessageRequested);
        dhtWindow.show();
        auto* content = child<QWidget>(&dhtWindow, "contentWidget");
        const auto boxes = [content] {
            return content->findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly).size();
        };
        QTRY_COMPARE(boxes(), 1);

        NetworkStatsDialog networkWindow(client, nullptr);
        networkWindow.show(); // asks for both DHTs
        QTRY_VERIFY(child<QPushButton>(&networkWindow, "refreshButton")->isEnabled());
        QTRY_COMPARE(boxes(), 2); // the DHT window rebuilt from the other window's answer
        QCOMPARE(dhtStatus.last().first().toString(), u"DHT stats loaded"_s);
        QCOMPARE(snapshotOf(&networkWindow)[u"dht"_s][u"summary"_s][u"total_dhts"_s].toInt(), 2);

        // And back: the DHT window's one-table answer replaces the network window's DHT data.
        child<QPushButton>(&dhtWindow, "refreshButton")->click();
        QTRY_COMPARE(boxes(), 1);
        QTRY_COMPARE(snapshotOf(&networkWindow)[u"dht"_s][u"summary"_s][u"total_dhts"_s].toInt(), 1);
        QCOMPARE(child<QLabel>(&networkWindow, "routingLabel")->text(),
            u"Routing: DHT peers = 1, DHT views = 1"_s);
    }

    void swarmAnswersReachBothWindows()
    {
        node->route(u"/stats/dht"_s, FakeKuboNode::json(dhtLinesBody(1, 1, 1)));
        NetworkStatsDialog networkWindow(client, nullptr);
        networkWindow.show();
        QTRY_VERIFY(child<QPushButton>(&networkWindow, "refreshButton")->isEnabled());

        // The swarm window's refresh: more peers, and its address list fails.
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(5))));
        node->route(u"/swarm/addrs"_s, FakeKuboNode::kuboError(u"addrs broke"_s));
        SwarmDialog swarmWindow(client, nullptr);
        swarmWindow.show();
        QTRY_VERIFY(child<QPushButton>(&swarmWindow, "refreshButton")->isEnabled());
        QTRY_COMPARE(
            child<QLabel>(&networkWindow, "connectivityLabel")->text(), u"Connectivity: swarm peers = 5"_s);
        QVERIFY(snapshotOf(&networkWindow)[u"endpoint_status"_s][u"swarm_peers"_s][u"ok"_s]
                    .toBool()); // "addrs" ignored

        // The network window's refresh fills the swarm window's peers; its failure marks the swarm failed.
        node->route(u"/swarm/peers"_s, FakeKuboNode::json(toJson(swarmPeersReply(7))));
        child<QPushButton>(&networkWindow, "refreshButton")->click();
        QTRY_COMPARE(child<QTableWidget>(&swarmWindow, "peersTable")->rowCount(), 7);

        node->route(u"/swarm/peers"_s, FakeKuboNode::kuboError(u"swarm down"_s));
        child<QPushButton>(&swarmWindow, "refreshButton")->click();
        QTRY_VERIFY(!snapshotOf(&networkWindow)[u"endpoint_status"_s][u"swarm_peers"_s][u"ok"_s].toBool());
        QVERIFY(snapshotOf(&networkWindow)[u"endpoint_status"_s][u"swarm_peers"_s][u"error"_s]
                    .toString()
                    .contains("swarm down"_L1));
        QCOMPARE(child<QTableWidget>(&swarmWindow, "peersTable")->rowCount(), 7); // kept
    }
};

QTEST_MAIN(TestNetworkSharing)
#include "tst_networksharing.moc"
