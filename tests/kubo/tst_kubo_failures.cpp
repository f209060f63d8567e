#include <QtTest>

#include "appsettings.h"
#include "ipfsclient.h"
#include "kubodialogs.h"
#include "kubonode.h"
#include "kubowindow.h"
#include "pincontentsdialog.h"
#include "testhome.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

// Every failure text the client gives, by the signal that carried it.
class FailureRecorder : public QObject
{
public:
    QList<QPair<QString, QString>> failures;

    explicit FailureRecorder(IpfsClient* client)
    {
        const auto record = [this](const char* signal) {
            return [this, signal](const QString& message) { failures.append({ QString::fromLatin1(signal), message }); };
        };
        connect(client, &IpfsClient::errorOccurred, this, record("errorOccurred"));
        connect(client, &IpfsClient::configKeyRequestFailed, this, record("configKeyRequestFailed"));
        connect(client, &IpfsClient::configReplaceFailed, this, record("configReplaceFailed"));
        connect(client, &IpfsClient::dhtStatsFailed, this, record("dhtStatsFailed"));
        connect(client, &IpfsClient::bitswapStatFailed, this, record("bitswapStatFailed"));
        connect(client, &IpfsClient::ipnsPublishFailed, this, record("ipnsPublishFailed"));
        connect(client, &IpfsClient::ipnsResolveFailed, this, record("ipnsResolveFailed"));
        connect(client, &IpfsClient::remoteServiceAddFailed, this, record("remoteServiceAddFailed"));
        connect(client, &IpfsClient::swarmRequestFailed, this,
            [this](const QString&, const QString& message) { failures.append({ u"swarmRequestFailed"_s, message }); });
        connect(client, &IpfsClient::bootstrapRequestFailed, this,
            [this](const QString&, const QString& message) { failures.append({ u"bootstrapRequestFailed"_s, message }); });
        connect(client, &IpfsClient::catFailed, this,
            [this](const QString&, const QString& message) { failures.append({ u"catFailed"_s, message }); });
        connect(client, &IpfsClient::refsFailed, this,
            [this](const QString&, const QString& message) { failures.append({ u"refsFailed"_s, message }); });
    }

    QString first(const QString& signal) const
    {
        for (const auto& [name, message] : failures) {
            if (name == signal)
                return message;
        }
        return {};
    }
};

QByteArray noise(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(5);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

// What the user reads when a real Kubo refuses or fails a request: the node's own words, never
// the request's URL, and a failure that comes after the answer began is a failure.
class TestKuboFailures : public QObject
{
    Q_OBJECT

    KuboNode node;
    QString looseCid;   // stored, not pinned
    QString missingCid; // never stored
    QString damagedFolder; // holds ok.txt and damaged.bin, whose second block is gone
    QString damagedFile;
    const QByteArray damagedContent = noise(700000);

    std::unique_ptr<IpfsClient> newClient()
    {
        auto client = std::make_unique<IpfsClient>();
        client->setEndpoint(node.host(), node.port());
        return client;
    }

    // No failure text quotes a request of ours (URLs can carry tokens and be megabytes long) or
    // the node's raw JSON error body.
    static QString quotedRequest(const FailureRecorder& recorder)
    {
        for (const auto& [signal, message] : recorder.failures) {
            if (message.contains(u"/api/v0"_s) || message.contains(u"\"Message\""_s))
                return message.left(300);
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        KUBO_START_NODE(node);
        looseCid = node.addOne({ { u"loose.txt"_s, "stored, not pinned\n" } }, { { u"pin"_s, u"false"_s } });
        missingCid = node.addOne({ { u"never.txt"_s, "never stored\n" } }, { { u"only-hash"_s, u"true"_s } });
        const QList<QJsonObject> damaged = node.add(
            { { u"broken/ok.txt"_s, "intact\n" }, { u"broken/damaged.bin"_s, damagedContent } },
            { { u"cid-version"_s, u"1"_s }, { u"pin"_s, u"false"_s } });
        for (const QJsonObject& entry : damaged) {
            if (entry.value(u"Name"_s).toString() == u"broken/damaged.bin")
                damagedFile = entry.value(u"Hash"_s).toString();
            if (entry.value(u"Name"_s).toString() == u"broken")
                damagedFolder = entry.value(u"Hash"_s).toString();
        }
        const QList<QJsonObject> leaves = node.post(u"/refs"_s, { { u"arg"_s, damagedFile } }).lines();
        QVERIFY(leaves.size() >= 3);
        QCOMPARE(node.post(u"/block/rm"_s, { { u"arg"_s, leaves.at(1).value(u"Ref"_s).toString() } }).status, 200);
        QVERIFY(!looseCid.isEmpty() && !missingCid.isEmpty() && !damagedFolder.isEmpty());
    }

    void cleanupTestCase() { node.stop(); }

    void theNodesMessageIsTold_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("signal");
        for (const auto& [operation, signal] : QList<QPair<const char*, const char*>> {
                 { "config key that does not exist", "configKeyRequestFailed" },
                 { "config replace the node refuses", "configReplaceFailed" },
                 { "DHT statistics offline", "dhtStatsFailed" },
                 { "bitswap statistics offline", "bitswapStatFailed" },
                 { "swarm peers offline", "swarmRequestFailed" },
                 { "bootstrap peer that is no address", "bootstrapRequestFailed" },
                 { "IPNS publish offline", "ipnsPublishFailed" },
                 { "IPNS resolve of an unknown name", "ipnsResolveFailed" },
                 { "remote service without an HTTP endpoint", "remoteServiceAddFailed" },
                 { "listing of a block the node lacks", "errorOccurred" } })
            QTest::newRow(operation) << QString::fromLatin1(operation) << QString::fromLatin1(signal);
    }

    void theNodesMessageIsTold()
    {
        QFETCH(QString, operation);
        QFETCH(QString, signal);
        auto client = newClient();
        FailureRecorder recorder(client.get());
        // The same request the client makes, answered by the node to the test.
        KuboNode::Answer answer;
        const QString peer = u"k51qzi5uqu5dlvj2baxnqndepeb86cbk3ng7n3i46uzyxzyqj2xjonzllnv0v8"_s;
        if (operation.startsWith(u"config key")) {
            answer = node.post(u"/config"_s, { { u"arg"_s, u"No.Such.Key"_s } });
            client->fetchConfigKey(u"No.Such.Key"_s, false);
        } else if (operation.startsWith(u"config replace")) {
            answer = node.postFiles(u"/config/replace"_s, { { u"config.json"_s, "[]" } }, {});
            client->replaceConfig("[]");
        } else if (operation.startsWith(u"DHT")) {
            answer = node.post(u"/stats/dht"_s);
            client->fetchDhtStats(QString());
        } else if (operation.startsWith(u"bitswap")) {
            answer = node.post(u"/bitswap/stat"_s, { { u"verbose"_s, u"false"_s }, { u"human"_s, u"false"_s } });
            client->fetchBitswapStat(false, false);
        } else if (operation.startsWith(u"swarm")) {
            answer = node.post(u"/swarm/peers"_s);
            client->fetchSwarmPeers();
        } else if (operation.startsWith(u"bootstrap")) {
            answer = node.post(u"/bootstrap/add"_s, { { u"arg"_s, u"not-an-address"_s } });
            client->bootstrapAddPeer(u"not-an-address"_s);
        } else if (operation.startsWith(u"IPNS publish")) {
            answer = node.post(u"/name/publish"_s, { { u"arg"_s, u"/ipfs/"_s + looseCid }, { u"key"_s, u"self"_s } });
            client->publishIpns(looseCid, QString());
        } else if (operation.startsWith(u"IPNS resolve")) {
            answer = node.post(u"/name/resolve"_s, { { u"arg"_s, u"/ipns/"_s + peer } });
            client->resolveIpns(peer);
        } else if (operation.startsWith(u"remote service")) {
            answer = node.post(u"/pin/remote/service/add"_s,
                { { u"arg"_s, u"bad"_s }, { u"arg"_s, u"ftp://127.0.0.1/"_s }, { u"arg"_s, u"secret"_s } });
            client->addRemoteService(u"bad"_s, u"ftp://127.0.0.1/"_s, u"secret"_s);
        } else {
            answer = node.post(u"/ls"_s, { { u"arg"_s, missingCid } });
            client->fetchLs(missingCid);
        }
        QVERIFY2(answer.status >= 400 && !answer.message().isEmpty(), answer.body.constData());

        QTRY_VERIFY_WITH_TIMEOUT(!recorder.first(signal).isEmpty(), 30000);
        QVERIFY2(recorder.first(signal).contains(answer.message()),
            qPrintable(recorder.first(signal) + u" / node: "_s + answer.message()));
        QVERIFY2(quotedRequest(recorder).isEmpty(), qPrintable(quotedRequest(recorder)));
    }

    // The node refuses to remove what it does not pin; the client finds that out first and says so,
    // in no words of a failure.
    void unpinOfWhatIsNotPinnedSaysSo()
    {
        const KuboNode::Answer answer = node.post(u"/pin/rm"_s, { { u"arg"_s, looseCid } });
        QCOMPARE(answer.status, 500);
        QVERIFY2(answer.message().contains(u"not pinned"_s), answer.body.constData());

        auto client = newClient();
        FailureRecorder recorder(client.get());
        QSignalSpy finished(client.get(), &IpfsClient::unpinFinished);
        client->unpin({ looseCid }, true);
        QVERIFY(finished.wait(30000));
        const UnpinReport report = finished.first().first().value<UnpinReport>();
        QCOMPARE(report.notPinned, QStringList { looseCid });
        QVERIFY(report.removed.isEmpty() && report.failed.isEmpty());
        QVERIFY2(recorder.failures.isEmpty(), qPrintable(recorder.failures.value(0).second));
    }

    // A file whose block is gone: the node starts the answer, then fails in its trailer.
    void aReadThatFailsMidwayIsAFailure()
    {
        const KuboNode::Answer answer = node.post(u"/cat"_s, { { u"arg"_s, damagedFile } });
        const QString nodeMessage = QString::fromUtf8(answer.trailer("X-Stream-Error"));
        QCOMPARE(answer.status, 200);
        QVERIFY(!nodeMessage.isEmpty());
        QVERIFY(answer.body.size() < damagedContent.size());

        auto client = newClient();
        FailureRecorder recorder(client.get());
        QSignalSpy read(client.get(), &IpfsClient::catReceived);
        client->fetchCat(damagedFile);
        QTRY_VERIFY_WITH_TIMEOUT(read.count() > 0 || !recorder.first(u"catFailed"_s).isEmpty(), 30000);
        QCOMPARE(read.count(), 0);
        QVERIFY2(recorder.first(u"catFailed"_s).contains(nodeMessage), qPrintable(recorder.first(u"catFailed"_s)));
    }

    // Walking the damaged DAG: "/refs" reports the walk error as a line, "/dag/stat" as its error.
    void aWalkThatFailsIsAFailure()
    {
        QString walkError;
        for (const QJsonObject& line :
            node.post(u"/refs"_s, { { u"arg"_s, damagedFolder }, { u"recursive"_s, u"true"_s }, { u"unique"_s, u"true"_s } })
                .lines()) {
            if (!line.value(u"Err"_s).toString().isEmpty())
                walkError = line.value(u"Err"_s).toString();
        }
        QVERIFY(!walkError.isEmpty());
        const QString statError
            = node.post(u"/dag/stat"_s, { { u"arg"_s, damagedFolder }, { u"progress"_s, u"false"_s } }).message();
        QVERIFY(!statError.isEmpty());

        auto client = newClient();
        FailureRecorder recorder(client.get());
        QSignalSpy refs(client.get(), &IpfsClient::refsReceived);
        QSignalSpy refsFailed(client.get(), &IpfsClient::refsFailed);
        QSignalSpy sizes(client.get(), &IpfsClient::dagStatReceived);
        client->fetchRefs(damagedFolder);
        client->fetchObjectStat(damagedFolder);
        QTRY_VERIFY_WITH_TIMEOUT(refsFailed.count() == 1 && sizes.count() == 1, 30000);
        QCOMPARE(refs.count(), 0); // no partial list passed off as the block count
        QCOMPARE(sizes.first().at(1).value<qint64>(), qint64(-1));
        const auto told = [&recorder](const QString& text) {
            return std::any_of(recorder.failures.cbegin(), recorder.failures.cend(),
                [&text](const auto& failure) { return failure.second.contains(text); });
        };
        QVERIFY2(told(walkError), qPrintable(walkError));
        QVERIFY2(told(statError), qPrintable(statError));
        QVERIFY2(quotedRequest(recorder).isEmpty(), qPrintable(quotedRequest(recorder)));
    }

    void aDamagedFileIsNotSavedAsWhole()
    {
        QTemporaryDir target;
        QVERIFY(target.isValid());
        auto client = newClient();
        PinContentsDialog dialog(damagedFolder, client.get(), nullptr);
        dialog.show();
        auto* saveAll = childWithText<QPushButton>(&dialog, u"Save all files to disk\u2026"_s);
        QTRY_VERIFY_WITH_TIMEOUT(saveAll->isEnabled(), 30000);
        chooseFolderNext(target.path());
        saveAll->click();
        QTRY_VERIFY_WITH_TIMEOUT(filesBelow(target.path()).size() > 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(saveAll->isEnabled(), 30000);

        const QHash<QString, QByteArray> written = filesBelow(target.path());
        QCOMPARE(written.size(), 1);
        QVERIFY2(written.keys().first().endsWith(u"ok.txt"_s), qPrintable(written.keys().first()));
    }

    // The default Origin is refused by Kubo, which allows only its own API origin unless told.
    void aRefusedOriginIsExplained()
    {
        QSettings settings = appSettings();
        settings.setValue(u"http/sendOrigin"_s, true);
        settings.sync();
        auto client = newClient();
        FailureRecorder recorder(client.get());
        client->fetchNodeInfo();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.first(u"errorOccurred"_s).isEmpty(), 30000);
        const QString told = recorder.first(u"errorOccurred"_s);
        settings.remove(u"http/sendOrigin"_s);
        settings.sync();
        QVERIFY2(told.contains(u"API.HTTPHeaders.Access-Control-Allow-Origin"_s), qPrintable(told));
        QVERIFY2(quotedRequest(recorder).isEmpty(), qPrintable(quotedRequest(recorder)));
    }
};

QTEST_MAIN(TestKuboFailures)
#include "tst_kubo_failures.moc"
