#include <QtTest>

#include "e2enode.h"
#include "gcdialog.h"
#include "ipfsclient.h"
#include "modaldialogdriver.h"
#include "networksnapshot.h"
#include "networkstatsdialog.h"
#include "swarmdialog.h"
#include "testsettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>

using namespace Qt::StringLiterals;

// Node administration through the client against an independent node. Expectations come from the
// node's own answers.
class TestE2eAdmin : public QObject
{
    Q_OBJECT

    E2eNode node;
    IpfsClient* client = nullptr;

    QStringList nodeBootstrap()
    {
        QStringList peers;
        for (const QJsonValue& peer :
            node.post(QStringLiteral("/bootstrap/list")).json().object().value(QStringLiteral("Peers")).toArray())
            peers.append(peer.toString());
        return peers;
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        E2E_START_NODE(node);
    }

    void init()
    {
        client = new IpfsClient(this);
        client->setEndpoint(node.host(), node.port());
    }

    void cleanup()
    {
        delete client;
        client = nullptr;
    }

    void readsSetsAndReplacesTheConfig()
    {
        const QJsonObject expected = node.post(QStringLiteral("/config/show")).json().object();
        QVERIFY(!expected.isEmpty());

        QSignalSpy received(client, &IpfsClient::configReceived);
        client->fetchConfig();
        QVERIFY(received.wait(30000));
        const QJsonObject config = received.first().first().toJsonObject();
        QCOMPARE(config, expected);

        // A harmless key: the GC watermark, as a JSON number.
        const QString key = QStringLiteral("Datastore.StorageGCWatermark");
        const int current
            = config.value(QStringLiteral("Datastore")).toObject().value(QStringLiteral("StorageGCWatermark")).toInt();
        const int watermark = current == 77 ? 78 : 77;
        QSignalSpy set(client, &IpfsClient::configKeySet);
        client->setConfigKey(key, QString::number(watermark), false, true);
        QVERIFY(set.wait(30000));
        QCOMPARE(set.first().at(0).toString(), key);

        QSignalSpy readBack(client, &IpfsClient::configKeyReceived);
        client->fetchConfigKey(key, false);
        QVERIFY(readBack.wait(30000));
        QCOMPARE(readBack.first().at(1).value<QJsonValue>().toInt(), watermark);

        // Put back what was read, as the editor's replace does.
        QSignalSpy replaced(client, &IpfsClient::configReplaceSucceeded);
        QSignalSpy replaceFailed(client, &IpfsClient::configReplaceFailed);
        client->replaceConfig(QJsonDocument(config).toJson(QJsonDocument::Indented));
        QTRY_VERIFY_WITH_TIMEOUT(replaced.count() + replaceFailed.count() == 1, 30000);
        QVERIFY2(replaced.count() == 1, qPrintable(replaceFailed.value(0).value(0).toString()));
        QCOMPARE(node.post(QStringLiteral("/config/show")).json().object(), expected);
    }

    void listsPeersAndEditsTheBootstrapList()
    {
        QSignalSpy peers(client, &IpfsClient::swarmPeersReceived);
        client->fetchSwarmPeers();
        QVERIFY(peers.wait(30000));
        QCOMPARE(peers.first().first().toStringList().size(),
            node.post(QStringLiteral("/swarm/peers")).json().object().value(QStringLiteral("Peers")).toArray().size());

        // Only the node's config list changes; an offline node dials nobody.
        const QString peer = QStringLiteral("/ip4/127.0.0.1/tcp/4001/p2p/12D3KooWQzBowrP82xstYRQyLgwJ8JgDSenWUxRqTN4ZWvEEJFuF");
        QSignalSpy added(client, &IpfsClient::bootstrapAddResult);
        client->bootstrapAddPeer(peer);
        QVERIFY(added.wait(30000));
        QCOMPARE(added.first().at(1).toBool(), true);
        QVERIFY(nodeBootstrap().contains(peer));

        QSignalSpy listed(client, &IpfsClient::bootstrapPeersReceived);
        client->fetchBootstrapPeers(false);
        QVERIFY(listed.wait(30000));
        QCOMPARE(listed.first().first().toStringList(), nodeBootstrap());

        QSignalSpy removed(client, &IpfsClient::bootstrapRemoveResult);
        client->bootstrapRemovePeers({ peer });
        QVERIFY(removed.wait(30000));
        QCOMPARE(removed.first().at(1).toBool(), true);
        QVERIFY(!nodeBootstrap().contains(peer));
    }

    void aMissingSwarmCommandIsReportedAsASwarmFailure()
    {
        // This node has no "/swarm/addrs/listen".
        QSignalSpy failed(client, &IpfsClient::swarmRequestFailed);
        QSignalSpy errors(client, &IpfsClient::errorOccurred);
        client->fetchSwarmListenAddrs();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.first().at(0).toString(), QStringLiteral("listen"));
        QVERIFY(failed.first().at(1).toString().startsWith(QStringLiteral("Failed to fetch listen addresses: ")));
        QCOMPARE(errors.count(), 0);
    }

    void readsSwarmAddressesAndBitswapStatistics()
    {
        QSignalSpy addrs(client, &IpfsClient::swarmAddrsReceived);
        client->fetchSwarmAddrs();
        QVERIFY(addrs.wait(30000));
        using PeerAddrs = QHash<QString, QStringList>;
        QCOMPARE(addrs.first().first().value<PeerAddrs>().size(),
            node.post(u"/swarm/addrs"_s).json().object().value("Addrs"_L1).toObject().size());

        const QJsonObject expected
            = node.post(u"/bitswap/stat"_s, { { u"verbose"_s, u"false"_s }, { u"human"_s, u"false"_s } })
                  .json()
                  .object();
        QVERIFY(!expected.isEmpty());
        QSignalSpy stat(client, &IpfsClient::bitswapStatReceived);
        client->fetchBitswapStat(false, false);
        QVERIFY(stat.wait(30000));
        QCOMPARE(stat.first().first().toJsonObject(), expected);

        // This node sends its counters as strings; the snapshot reads them as numbers.
        NetworkSnapshot::State state;
        state.bitswapOk = true;
        state.bitswapStat = expected;
        const QJsonObject counters
            = NetworkSnapshot::build(state, QDateTime::currentDateTimeUtc())[u"bitswap"_s][u"counters"_s]
                  .toObject();
        QCOMPARE(counters[u"blocks_received"_s].toInteger(),
            expected.value("BlocksReceived"_L1).toVariant().toLongLong());
        QCOMPARE(counters[u"data_sent_bytes"_s].toInteger(),
            expected.value("DataSent"_L1).toVariant().toLongLong());
    }

    void missingDhtStatisticsAreReportedAsAFailure()
    {
        // This node has no "/stats/dht".
        QStringList events;
        QObject listening; // ends the connections with this function
        connect(client, &IpfsClient::errorOccurred, &listening,
            [&events](const QString& m) { events << u"error:"_s + m; });
        connect(client, &IpfsClient::dhtStatsFailed, &listening,
            [&events](const QString& m) { events << u"failed:"_s + m; });
        QSignalSpy failed(client, &IpfsClient::dhtStatsFailed);
        client->fetchDhtStats(QString());
        QVERIFY(failed.wait(30000));
        QCOMPARE(events.size(), 2);
        QVERIFY2(events.at(0).startsWith("error:Failed to get DHT stats: "_L1), qPrintable(events.at(0)));
        QCOMPARE(events.at(1), u"failed:"_s + events.at(0).mid(6));
    }

    // The node answers a bootstrap add or remove with the peers it changed; the window shows the list.
    void swarmWindowShowsTheNodesBootstrapList()
    {
        SwarmDialog dialog(client, nullptr);
        auto* refresh = dialog.findChild<QPushButton*>(u"refreshButton"_s);
        auto* table = dialog.findChild<QTableWidget*>(u"bootstrapTable"_s);
        auto* edit = dialog.findChild<QLineEdit*>(u"bootstrapEdit"_s);
        auto* statusLabel = dialog.findChild<QLabel*>(u"statusLabel"_s);
        const auto shown = [table] {
            QStringList rows;
            for (int row = 0; row < table->rowCount(); ++row)
                rows << table->item(row, 0)->text();
            return rows;
        };
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(refresh->isEnabled(), 30000);
        QCOMPARE(shown(), nodeBootstrap());

        const QString id = u"12D3KooWQzBowrP82xstYRQyLgwJ8JgDSenWUxRqTN4ZWvEEJFuF"_s;
        const QStringList peers { u"/ip4/127.0.0.1/tcp/4001/p2p/"_s + id,
            u"/ip4/127.0.0.2/tcp/4001/p2p/"_s + id };
        for (const QString& peer : peers) {
            edit->setText(peer);
            dialog.findChild<QPushButton*>(u"bootstrapAddButton"_s)->click();
            QTRY_VERIFY_WITH_TIMEOUT(shown().contains(peer), 30000);
            QCOMPARE(statusLabel->text(), u"Added bootstrap peer: "_s + peer);
        }
        QCOMPARE(shown(), nodeBootstrap());
        QCOMPARE(shown().size(), 2);

        edit->clear();
        table->selectRow(int(shown().indexOf(peers.first())));
        dialog.findChild<QPushButton*>(u"bootstrapRemoveSelectedButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringList { peers.last() }, 30000);
        QCOMPARE(nodeBootstrap(), QStringList { peers.last() });

        ModalDialogDriver::answerNext([](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->button(QMessageBox::Yes)->click();
        });
        dialog.findChild<QPushButton*>(u"bootstrapRemoveAllButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 0, 30000);
        QCOMPARE(statusLabel->text(), u"Removed all bootstrap peers."_s);
        QVERIFY(nodeBootstrap().isEmpty());
    }

    void networkWindowWithoutDhtStatistics()
    {
        NetworkStatsDialog dialog(client, nullptr);
        dialog.show();
        auto* refresh = dialog.findChild<QPushButton*>(u"refreshButton"_s);
        QTRY_VERIFY_WITH_TIMEOUT(refresh->isEnabled(), 30000);
        QCOMPARE(dialog.findChild<QLabel*>(u"statusLabel"_s)->text(),
            u"Network diagnostics loaded with partial errors."_s);

        const QJsonObject snapshot
            = QJsonDocument::fromJson(dialog.findChild<QTextEdit*>(u"jsonEdit"_s)->toPlainText().toUtf8())
                  .object();
        const QJsonObject endpoints = snapshot[u"endpoint_status"_s].toObject();
        QVERIFY(endpoints[u"swarm_peers"_s][u"ok"_s].toBool());
        QVERIFY(endpoints[u"bitswap_stat"_s][u"ok"_s].toBool());
        QVERIFY(!endpoints[u"dht_stats"_s][u"ok"_s].toBool());
        QVERIFY(endpoints[u"dht_stats"_s][u"error"_s].toString().startsWith("Failed to get DHT stats: "_L1));
        QCOMPARE(snapshot[u"swarm"_s][u"summary"_s][u"count"_s].toInt(),
            node.post(u"/swarm/peers"_s).json().object().value("Peers"_L1).toArray().size());
        // An offline node has no peers: poor connectivity.
        QCOMPARE(snapshot[u"health"_s][u"state"_s].toString(), u"poor"_s);
        QCOMPARE(snapshot[u"health"_s][u"signals"_s][1][u"message"_s], endpoints[u"dht_stats"_s][u"error"_s]);
    }

    void readsRepositoryStatistics()
    {
        const QJsonObject expected = node.post(QStringLiteral("/repo/stat")).json().object();
        QSignalSpy stat(client, &IpfsClient::repoStatReceived);
        client->fetchRepoStat();
        QVERIFY(stat.wait(30000));
        const QJsonObject got = stat.first().first().toJsonObject();
        QCOMPARE(got.value(QStringLiteral("RepoPath")), expected.value(QStringLiteral("RepoPath")));
        QVERIFY(got.contains(QStringLiteral("RepoSize")));
    }

    void garbageCollectionRemovesAnUnpinnedBlock()
    {
        const auto added = node.add({ { QStringLiteral("garbage.txt"), "collect me\n" } },
            { { QStringLiteral("cid-version"), QStringLiteral("1") }, { QStringLiteral("pin"), QStringLiteral("false") } });
        QVERIFY(!added.isEmpty());
        const QString garbage = E2eNode::toBase32(added.last().value(QStringLiteral("Hash")).toString());

        QSignalSpy collected(client, &IpfsClient::repoGcCompleted);
        QSignalSpy failed(client, &IpfsClient::repoGcFailed);
        client->runRepoGc();
        QTRY_VERIFY_WITH_TIMEOUT(collected.count() + failed.count() == 1, 60000);
        QVERIFY2(collected.count() == 1, qPrintable(failed.value(0).value(0).toString()));
        QStringList cids;
        for (const QString& cid : collected.first().at(0).toStringList())
            cids.append(E2eNode::toBase32(cid));
        QVERIFY2(cids.contains(garbage), qPrintable(cids.join(QLatin1Char(' '))));

        const QByteArray local = node.post(QStringLiteral("/refs/local")).body;
        QVERIFY(!local.contains(garbage.toUtf8()));
    }

    // The window reads the node's own number forms (this node sends them as strings) and lists what
    // a collection removed.
    void theRepoWindowReportsStatisticsAndCollection()
    {
        const QJsonObject stat = node.post(QStringLiteral("/repo/stat")).json().object();
        GcDialog dialog(client, nullptr);
        auto* status = dialog.findChild<QLabel*>(QStringLiteral("statusLabel"));
        auto* output = dialog.findChild<QTextEdit*>(QStringLiteral("outputEdit"));
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Repo stats loaded"), 30000);
        const QStringList report = output->toPlainText().split(QLatin1Char('\n'));
        const qint64 objects = stat.value(QStringLiteral("NumObjects")).toVariant().toLongLong();
        const qint64 size = stat.value(QStringLiteral("RepoSize")).toVariant().toLongLong();
        QVERIFY(size > 0);
        QVERIFY2(
            report.contains(QStringLiteral("NumObjects: %1").arg(objects)), qPrintable(report.join(u'|')));
        QVERIFY2(
            report.contains(QStringLiteral("RepoSize: %1 (%2 B)").arg(GcDialog::formatBytes(size)).arg(size)),
            qPrintable(report.join(u'|')));
        QVERIFY(report.contains(
            QStringLiteral("RepoPath: ") + stat.value(QStringLiteral("RepoPath")).toString()));

        const auto added
            = node.add({ { QStringLiteral("window-garbage.txt"), "collect me from the window\n" } },
                { { QStringLiteral("cid-version"), QStringLiteral("1") },
                    { QStringLiteral("pin"), QStringLiteral("false") } });
        QVERIFY(!added.isEmpty());
        const QString garbage = E2eNode::toBase32(added.last().value(QStringLiteral("Hash")).toString());
        dialog.findChild<QPushButton*>(QStringLiteral("runGcButton"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("GC completed"), 60000);
        QStringList listed;
        for (const QString& line : output->toPlainText().split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral(" - ")))
                listed.append(E2eNode::toBase32(line.mid(3)));
        }
        QVERIFY2(listed.contains(garbage), qPrintable(output->toPlainText()));
    }
};

QTEST_MAIN(TestE2eAdmin)
#include "tst_e2e_admin.moc"
