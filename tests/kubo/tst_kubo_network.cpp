#include <QtTest>

#include "dhtstatsdialog.h"
#include "ipfsclient.h"
#include "kubonode.h"
#include "kubowindow.h"
#include "modaldialogdriver.h"
#include "networkstatsdialog.h"
#include "swarmdialog.h"
#include "testhome.h"

#include <QInputDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidget>
#include <QTextEdit>

using namespace Qt::StringLiterals;

// Two Kubo nodes online on loopback: the program talks to "node", which peers with "other".
// Swarm, bootstrap list, DHT and bitswap statistics, the network snapshot and IPNS, through the
// client and the windows, each compared with what the node itself answers.
class TestKuboNetwork : public QObject
{
    Q_OBJECT

    KuboNode node { true };
    KuboNode other { true };
    QString otherId;
    QString otherAddress; // with its /p2p/ part, as a user pastes it
    std::unique_ptr<IpfsClient> client;

    QStringList nodePeers()
    {
        QStringList peers;
        for (const QJsonValue& peer : node.post(u"/swarm/peers"_s).json().value(u"Peers"_s).toArray())
            peers.append(peer[u"Peer"_s].toString());
        return peers;
    }

    QStringList nodeBootstrap()
    {
        QStringList peers;
        for (const QJsonValue& peer : node.post(u"/bootstrap/list"_s).json().value(u"Peers"_s).toArray())
            peers.append(peer.toString());
        return peers;
    }

    // A connection is settled once both nodes hold each other in their DHT routing tables; a
    // disconnect before that is undone by the other node dialling back within a second.
    bool settled()
    {
        const QString ownId = node.post(u"/id"_s).json().value(u"ID"_s).toString();
        return QTest::qWaitFor([&] {
            return node.post(u"/stats/dht"_s).body.contains(otherId.toUtf8())
                && other.post(u"/stats/dht"_s).body.contains(ownId.toUtf8());
        }, 30000);
    }

    bool connectToOther()
    {
        const auto answer = node.post(u"/swarm/connect"_s, { { u"arg"_s, otherAddress } });
        return answer.status == 200 && nodePeers().contains(otherId);
    }

    // Lets the node fetch a block from the other one, so that bitswap has something to count.
    bool fetchFromOther()
    {
        const QString cid = other.addOne({ { u"shared.txt"_s, "fetched over bitswap\n" } }, { { u"cid-version"_s, u"1"_s } });
        return node.post(u"/cat"_s, { { u"arg"_s, cid } }).body == "fetched over bitswap\n";
    }

    static QStringList column(QTableWidget* table, int column)
    {
        QStringList cells;
        for (int row = 0; row < table->rowCount(); ++row)
            cells.append(table->item(row, column) ? table->item(row, column)->text() : QString());
        return cells;
    }

    // Answers the next text or item prompt with this text, then records the text of the
    // message box that follows it and closes the box.
    static void answerPromptThenReadBox(const QString& text, QString* box)
    {
        ModalDialogDriver::answerNext([text, box](QWidget* modal) {
            auto* prompt = qobject_cast<QInputDialog*>(modal);
            if (!prompt)
                return;
            ModalDialogDriver::answerNext(
                [box](QWidget* next) {
                    if (auto* result = qobject_cast<QMessageBox*>(next)) {
                        *box = result->text();
                        result->button(QMessageBox::Ok)->click();
                    }
                },
                prompt, 60000);
            prompt->setTextValue(text);
            prompt->accept();
        });
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        KUBO_START_NODE(node);
        KUBO_START_NODE(other);
        const QJsonObject id = other.post(u"/id"_s).json();
        otherId = id.value(u"ID"_s).toString();
        otherAddress = id.value(u"Addresses"_s).toArray().first().toString();
        QVERIFY(otherAddress.startsWith(u"/ip4/127.0.0.1/"_s));
    }

    void cleanupTestCase()
    {
        node.stop();
        other.stop();
    }

    void init()
    {
        client = std::make_unique<IpfsClient>();
        client->setEndpoint(node.host(), node.port());
    }

    // Every case starts with the two nodes apart. Nodes that know each other (from a bootstrap
    // list, or their routing tables) may dial again right after a disconnect, so each side is
    // disconnected until they stay apart.
    void cleanup()
    {
        client.reset();
        if (!nodePeers().contains(otherId))
            return;
        QVERIFY(settled());
        const QString ownId = node.post(u"/id"_s).json().value(u"ID"_s).toString();
        QVERIFY(QTest::qWaitFor([&] {
            node.post(u"/swarm/disconnect"_s, { { u"arg"_s, u"/p2p/"_s + otherId } });
            other.post(u"/swarm/disconnect"_s, { { u"arg"_s, u"/p2p/"_s + ownId } });
            return !nodePeers().contains(otherId);
        }, 30000));
    }

    void connectsListsAndDisconnectsAPeer()
    {
        QSignalSpy connected(client.get(), &IpfsClient::swarmConnectResult);
        client->swarmConnect(otherAddress);
        QVERIFY(connected.wait(30000));
        QCOMPARE(connected.first().at(1).toBool(), true);
        QVERIFY(nodePeers().contains(otherId));

        QSignalSpy peers(client.get(), &IpfsClient::swarmPeersReceived);
        client->fetchSwarmPeers();
        QVERIFY(peers.wait(30000));
        // Each peer as an address a user can dial again: the node's address of it and its id.
        QStringList expected;
        for (const QJsonValue& peer : node.post(u"/swarm/peers"_s).json().value(u"Peers"_s).toArray())
            expected.append(peer[u"Addr"_s].toString() + u"/p2p/"_s + peer[u"Peer"_s].toString());
        QCOMPARE(peers.first().first().toStringList(), expected);

        using PeerAddrs = QHash<QString, QStringList>;
        QSignalSpy addrs(client.get(), &IpfsClient::swarmAddrsReceived);
        client->fetchSwarmAddrs();
        QVERIFY(addrs.wait(30000));
        const QJsonObject known = node.post(u"/swarm/addrs"_s).json().value(u"Addrs"_s).toObject();
        const PeerAddrs table = addrs.first().first().value<PeerAddrs>();
        QCOMPARE(table.size(), known.size());
        QCOMPARE(table.value(otherId), known.value(otherId).toVariant().toStringList());

        QVERIFY(settled());
        QSignalSpy disconnected(client.get(), &IpfsClient::swarmDisconnectResult);
        client->swarmDisconnect(otherAddress);
        QVERIFY(disconnected.wait(30000));
        QCOMPARE(disconnected.first().at(1).toBool(), true);
        QVERIFY(!nodePeers().contains(otherId));
        peers.clear();
        client->fetchSwarmPeers(); // the node answers "Peers": null now
        QVERIFY(peers.wait(30000));
        QCOMPARE(peers.first().first().toStringList(), QStringList());
    }

    void theSwarmWindowConnectsAndDisconnects()
    {
        SwarmDialog dialog(client.get(), nullptr);
        dialog.show();
        auto* refresh = dialog.findChild<QPushButton*>(u"refreshButton"_s);
        auto* peersTable = dialog.findChild<QTableWidget*>(u"peersTable"_s);
        const auto listsOther = [&] { return column(peersTable, 0).join(u' ').contains(otherId)
                                          || column(peersTable, 1).join(u' ').contains(otherId); };
        QTRY_VERIFY_WITH_TIMEOUT(refresh->isEnabled(), 30000);
        QVERIFY(!listsOther());

        dialog.findChild<QLineEdit*>(u"peerEdit"_s)->setText(otherAddress);
        dialog.findChild<QPushButton*>(u"connectButton"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(listsOther(), 30000);
        QVERIFY(nodePeers().contains(otherId));

        QVERIFY(settled());
        dialog.findChild<QLineEdit*>(u"peerEdit"_s)->setText(otherAddress);
        dialog.findChild<QPushButton*>(u"disconnectButton"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!listsOther(), 30000);
        QVERIFY(!nodePeers().contains(otherId));
    }

    void editsTheBootstrapList()
    {
        QSignalSpy added(client.get(), &IpfsClient::bootstrapAddResult);
        client->bootstrapAddPeer(otherAddress);
        QVERIFY(added.wait(30000));
        QCOMPARE(added.first().at(1).toBool(), true);
        QCOMPARE(nodeBootstrap(), QStringList { otherAddress });

        QSignalSpy listed(client.get(), &IpfsClient::bootstrapPeersReceived);
        client->fetchBootstrapPeers(false);
        QVERIFY(listed.wait(30000));
        QCOMPARE(listed.first().first().toStringList(), nodeBootstrap());

        QSignalSpy removed(client.get(), &IpfsClient::bootstrapRemoveResult);
        client->bootstrapRemovePeers({ otherAddress });
        QVERIFY(removed.wait(30000));
        QCOMPARE(removed.first().at(1).toBool(), true);
        QCOMPARE(nodeBootstrap(), QStringList());
    }

    void theSwarmWindowEditsTheBootstrapList()
    {
        SwarmDialog dialog(client.get(), nullptr);
        dialog.show();
        auto* table = dialog.findChild<QTableWidget*>(u"bootstrapTable"_s);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.findChild<QPushButton*>(u"refreshButton"_s)->isEnabled(), 30000);
        QCOMPARE(column(table, 0), nodeBootstrap());

        dialog.findChild<QLineEdit*>(u"bootstrapEdit"_s)->setText(otherAddress);
        dialog.findChild<QPushButton*>(u"bootstrapAddButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(column(table, 0), QStringList { otherAddress }, 30000);
        QCOMPARE(nodeBootstrap(), QStringList { otherAddress });

        ModalDialogDriver::answerNext([](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->button(QMessageBox::Yes)->click();
        });
        dialog.findChild<QPushButton*>(u"bootstrapRemoveAllButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 0, 30000);
        QCOMPARE(nodeBootstrap(), QStringList());
    }

    void dhtAndBitswapStatisticsAreTheNodes()
    {
        QVERIFY(connectToOther());
        QVERIFY(fetchFromOther());

        QJsonArray expectedDht;
        for (const QJsonObject& table : node.post(u"/stats/dht"_s).lines())
            expectedDht.append(table);
        QSignalSpy dht(client.get(), &IpfsClient::dhtStatsReceived);
        client->fetchDhtStats(QString());
        QVERIFY(dht.wait(30000));
        const QJsonArray tables = dht.first().first().value<QJsonValue>().toArray();
        QCOMPARE(tables.size(), expectedDht.size());
        QStringList names;
        for (const QJsonValue& table : tables)
            names.append(table[u"Name"_s].toString());
        QCOMPARE(names, (QStringList { u"wan"_s, u"lan"_s }));
        QVERIFY(QJsonDocument(tables).toJson().contains(otherId.toUtf8()));

        const QJsonObject expectedBitswap
            = node.post(u"/bitswap/stat"_s, { { u"verbose"_s, u"false"_s }, { u"human"_s, u"false"_s } }).json();
        QVERIFY(expectedBitswap.value(u"BlocksReceived"_s).toInteger() >= 1);
        QSignalSpy bitswap(client.get(), &IpfsClient::bitswapStatReceived);
        client->fetchBitswapStat(false, false);
        QVERIFY(bitswap.wait(30000));
        QCOMPARE(bitswap.first().first().toJsonObject(), expectedBitswap);
    }

    void theDhtWindowListsThePeer()
    {
        QVERIFY(connectToOther());
        QTRY_VERIFY_WITH_TIMEOUT(node.post(u"/stats/dht"_s).body.contains(otherId.toUtf8()), 30000);
        DhtStatsDialog dialog(client.get(), nullptr);
        dialog.show();
        dialog.findChild<QPushButton*>(u"refreshButton"_s)->click();
        const auto listed = [&dialog, this] {
            for (QTableWidget* table : dialog.findChildren<QTableWidget*>()) {
                if (column(table, 0).join(u' ').contains(otherId))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(listed(), 30000);
    }

    void theNetworkSnapshotIsTheNodes()
    {
        QVERIFY(connectToOther());
        QVERIFY(fetchFromOther());
        const QJsonObject bitswap
            = node.post(u"/bitswap/stat"_s, { { u"verbose"_s, u"false"_s }, { u"human"_s, u"false"_s } }).json();
        NetworkStatsDialog dialog(client.get(), nullptr);
        dialog.show();
        auto* status = dialog.findChild<QLabel*>(u"statusLabel"_s);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(u"Network diagnostics loaded"_s), 30000);
        QVERIFY2(!status->text().contains(u"error"_s), qPrintable(status->text()));

        const QJsonObject snapshot
            = QJsonDocument::fromJson(dialog.findChild<QTextEdit*>(u"jsonEdit"_s)->toPlainText().toUtf8()).object();
        const QJsonObject endpoints = snapshot[u"endpoint_status"_s].toObject();
        for (const char* endpoint : { "swarm_peers", "dht_stats", "bitswap_stat" })
            QVERIFY2(endpoints[QLatin1String(endpoint)][u"ok"_s].toBool(), endpoint);
        QCOMPARE(snapshot[u"swarm"_s][u"summary"_s][u"count"_s].toInt(), int(nodePeers().size()));
        const QJsonObject counters = snapshot[u"bitswap"_s][u"counters"_s].toObject();
        QCOMPARE(counters[u"blocks_received"_s].toInteger(), bitswap.value(u"BlocksReceived"_s).toInteger());
        QCOMPARE(counters[u"data_received_bytes"_s].toInteger(), bitswap.value(u"DataReceived"_s).toInteger());
    }

    void publishesAndResolvesIpns()
    {
        const QString cid = node.addOne({ { u"published.txt"_s, "published under the node's name\n" } },
            { { u"cid-version"_s, u"1"_s } });
        QSignalSpy published(client.get(), &IpfsClient::ipnsPublished);
        QSignalSpy publishFailed(client.get(), &IpfsClient::ipnsPublishFailed);
        client->publishIpns(cid, QString());
        QTRY_VERIFY_WITH_TIMEOUT(published.count() + publishFailed.count() > 0, 60000);
        QVERIFY2(publishFailed.isEmpty(), qPrintable(publishFailed.value(0).value(0).toString()));
        const IpnsPublishResult result = published.first().first().value<IpnsPublishResult>();
        QCOMPARE(result.value, u"/ipfs/"_s + cid);
        QCOMPARE(result.key, u"self"_s);
        QString selfId;
        for (const QJsonValue& key : node.post(u"/key/ls"_s).json().value(u"Keys"_s).toArray()) {
            if (key[u"Name"_s].toString() == u"self")
                selfId = key[u"Id"_s].toString();
        }
        QCOMPARE(result.name, selfId);
        QCOMPARE(node.post(u"/name/resolve"_s, { { u"arg"_s, result.name } }).json().value(u"Path"_s).toString(),
            u"/ipfs/"_s + cid);

        QSignalSpy resolved(client.get(), &IpfsClient::ipnsResolved);
        client->resolveIpns(result.name);
        QVERIFY(resolved.wait(30000));
        QCOMPARE(resolved.first().first().value<IpnsResolveResult>().path, u"/ipfs/"_s + cid);
    }

    // Under a key of its own: the node keeps answering a resolve from its cache for a while after a
    // name was published anew.
    void theWindowPublishesAndResolves()
    {
        QCOMPARE(node.post(u"/key/gen"_s, { { u"arg"_s, u"window-key"_s } }).status, 200);
        const QString cid = node.addOne({ { u"window.txt"_s, "published from the window\n" } },
            { { u"cid-version"_s, u"1"_s } });
        KuboWindow window(node);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle() && window.rows().contains(cid), 30000);
        QVERIFY(window.select({ cid }));
        QString box;
        answerPromptThenReadBox(u"window-key"_s, &box);
        window.action(u"Publish to &IPNS..."_s)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!box.isEmpty(), 60000);
        QVERIFY2(box.contains(u"Value: /ipfs/"_s + cid), qPrintable(box));

        // The node's name resolves to what was published.
        const QString published = box.section(u"Name: "_s, 1).section(u'\n', 0, 0).trimmed();
        QCOMPARE(node.post(u"/name/resolve"_s, { { u"arg"_s, published } }).json().value(u"Path"_s).toString(),
            u"/ipfs/"_s + cid);
        box.clear();
        answerPromptThenReadBox(published, &box);
        window.action(u"&Resolve IPNS..."_s)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!box.isEmpty(), 60000);
        QVERIFY2(box.contains(u"/ipfs/"_s + cid), qPrintable(box));
    }
};

QTEST_MAIN(TestKuboNetwork)
#include "tst_kubo_network.moc"
