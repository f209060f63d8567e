#include <QtTest>

#include "e2enode.h"
#include "gcdialog.h"
#include "ipfsclient.h"
#include "testsettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

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
