#include <QtTest>

#include "cidtext.h"
#include "ipfsclient.h"
#include "kubodialogs.h"
#include "kubonode.h"
#include "kubowindow.h"
#include "pinningservice.h"
#include "remoteservicesdialog.h"
#include "testhome.h"

#include <QJsonArray>
#include <QListWidget>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// Remote pinning through a real Kubo and a pinning service of our own on loopback: Kubo's own
// client of the Pinning Service API talks to it. Kubo's remote-pin commands work offline.
class TestKuboRemote : public QObject
{
    Q_OBJECT

    KuboNode node;
    PinningService service;
    QString downEndpoint; // a loopback port where nothing listens
    QTemporaryDir dir;
    std::unique_ptr<IpfsClient> client;

    QJsonArray nodeServices(bool stat)
    {
        return node.post(u"/pin/remote/service/ls"_s, { { u"stat"_s, stat ? u"true"_s : u"false"_s } })
            .json()
            .value(u"RemoteServices"_s)
            .toArray();
    }

    bool addServiceToNode(const QString& name, const QString& endpoint, const QString& token)
    {
        return node.post(u"/pin/remote/service/add"_s, { { u"arg"_s, name }, { u"arg"_s, endpoint }, { u"arg"_s, token } })
                   .status
            == 200;
    }

    void removeServiceFromNode(const QString& name) { node.post(u"/pin/remote/service/rm"_s, { { u"arg"_s, name } }); }

    QString addPinnedFile(const QString& name, const QByteArray& content)
    {
        return node.addOne({ { name, content } }, { { u"cid-version"_s, u"1"_s } });
    }

    bool pinnedLocally(const QString& cid)
    {
        const auto pins = node.pins(u"recursive"_s);
        return std::any_of(pins.keyBegin(), pins.keyEnd(), [&cid](const QString& pin) { return blockOf(pin) == blockOf(cid); });
    }

    QString writeFile(const QString& name, const QByteArray& content)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return {};
        return file.fileName();
    }

    // The root the add dialog makes of one file (CIDv1, wrapped), as the node computes it.
    QString wrappedRoot(const QString& name, const QByteArray& content)
    {
        return node.addOne({ { name, content } },
            { { u"cid-version"_s, u"1"_s }, { u"wrap-with-directory"_s, u"true"_s }, { u"only-hash"_s, u"true"_s } });
    }

    static QStringList statusLines(const KuboWindow& window)
    {
        QStringList lines;
        for (const QString& line : window.get()->statusLog())
            lines.append(line.mid(21)); // after "yyyy-MM-dd hh:mm:ss  "
        return lines;
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        QVERIFY(dir.isValid());
        QVERIFY(service.start());
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        downEndpoint = u"http://127.0.0.1:%1"_s.arg(closed.serverPort());
        closed.close();
        KUBO_START_NODE(node);
    }

    void cleanupTestCase() { node.stop(); }

    void init()
    {
        client = std::make_unique<IpfsClient>();
        client->setEndpoint(node.host(), node.port());
        service.setCourse({ u"pinned"_s });
    }

    void cleanup()
    {
        client.reset();
        for (const QJsonValue& entry : nodeServices(false))
            removeServiceFromNode(entry[u"Service"_s].toString());
    }

    void addsListsTestsAndRemovesAService()
    {
        QSignalSpy added(client.get(), &IpfsClient::remoteServiceAdded);
        QSignalSpy addFailed(client.get(), &IpfsClient::remoteServiceAddFailed);
        client->addRemoteService(u"svc"_s, service.endpoint(), service.accessToken());
        QTRY_VERIFY_WITH_TIMEOUT(added.count() + addFailed.count() > 0, 30000);
        QVERIFY2(addFailed.isEmpty(), qPrintable(addFailed.value(0).value(0).toString()));
        const QJsonArray listed = nodeServices(false);
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.first()[u"ApiEndpoint"_s].toString(), service.endpoint());

        QSignalSpy services(client.get(), &IpfsClient::remoteServicesReceived);
        client->fetchRemoteServices(false, QString());
        QVERIFY(services.wait(30000));
        const auto entries = services.first().first().value<QList<RemoteServiceEntry>>();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, u"svc"_s);
        QCOMPARE(entries.first().endpoint, service.endpoint());

        QSignalSpy tested(client.get(), &IpfsClient::remoteServiceTested);
        client->testRemoteService(u"svc"_s);
        QVERIFY(tested.wait(30000));
        QCOMPARE(tested.first().at(1).toBool(), true);
        // The node asked the service with the token it was given.
        QVERIFY(!service.requests().isEmpty());
        for (const PinningService::Request& request : service.requests())
            QCOMPARE(request.header("Authorization"), "Bearer " + service.accessToken().toUtf8());

        QSignalSpy removed(client.get(), &IpfsClient::remoteServiceRemoved);
        client->removeRemoteService(u"svc"_s);
        QVERIFY(removed.wait(30000));
        QCOMPARE(nodeServices(false), QJsonArray());
    }

    // The node counts the service's pins per status; each count is one request of the service.
    void theNodeCountsTheServicesPins()
    {
        QVERIFY(addServiceToNode(u"counted"_s, service.endpoint(), service.accessToken()));
        const QList<QPair<QString, int>> seeded { { u"queued"_s, 2 }, { u"pinning"_s, 1 }, { u"pinned"_s, 3 }, { u"failed"_s, 1 } };
        int n = 0;
        for (const auto& [status, count] : seeded) {
            for (int i = 0; i < count; ++i) {
                const QByteArray content = "counted " + QByteArray::number(++n);
                service.seed(node.addOne({ { u"counted.txt"_s, content } }, { { u"only-hash"_s, u"true"_s } }), status);
            }
        }
        const QJsonObject stat = nodeServices(true).first()[u"Stat"_s].toObject();
        QCOMPARE(stat[u"Status"_s].toString(), u"valid"_s);
        const QJsonObject counts = stat[u"PinCount"_s].toObject();
        for (const auto& [status, count] : seeded) {
            const QString key = status.left(1).toUpper() + status.mid(1);
            QCOMPARE(counts[key].toInt(), count);
        }
    }

    void aServiceKuboCannotUseFailsItsTest_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("nothing listens") << false;
        QTest::newRow("token refused") << true;
    }

    void aServiceKuboCannotUseFailsItsTest()
    {
        QFETCH(bool, reachable);
        QVERIFY(addServiceToNode(u"broken"_s, reachable ? service.endpoint() : downEndpoint, u"not-the-token"_s));
        QCOMPARE(nodeServices(true).first()[u"Stat"_s][u"Status"_s].toString(), u"invalid"_s);
        QSignalSpy tested(client.get(), &IpfsClient::remoteServiceTested);
        client->testRemoteService(u"broken"_s);
        QVERIFY(tested.wait(30000));
        QCOMPARE(tested.first().at(1).toBool(), false);
    }

    void theServicesWindowAddsTestsAndRemoves()
    {
        RemoteServicesDialog dialog(client.get(), nullptr);
        dialog.show();
        auto* list = dialog.findChild<QListWidget*>(u"serviceList"_s);
        auto* status = dialog.findChild<QLabel*>(u"statusLabel"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), u"Loaded 0 remote service(s)."_s, 30000);

        dialog.findChild<QLineEdit*>(u"nicknameEdit"_s)->setText(u"window-svc"_s);
        dialog.findChild<QLineEdit*>(u"endpointEdit"_s)->setText(service.endpoint());
        dialog.findChild<QLineEdit*>(u"tokenEdit"_s)->setText(service.accessToken());
        dialog.findChild<QPushButton*>(u"saveButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1, 30000);
        QCOMPARE(list->item(0)->text(), u"window-svc  (%1)"_s.arg(service.endpoint()));
        QCOMPARE(nodeServices(false).first()[u"Service"_s].toString(), u"window-svc"_s);

        auto seen = std::make_shared<SeenBox>();
        recordNextBox(seen);
        QTRY_VERIFY(dialog.findChild<QPushButton*>(u"testButton"_s)->isEnabled());
        dialog.findChild<QPushButton*>(u"testButton"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 30000);
        QCOMPARE(seen->text, u"Service 'window-svc' is configured and reachable."_s);

        ModalDialogDriver::answerNext([](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->button(QMessageBox::Yes)->click();
        });
        QTRY_VERIFY(dialog.findChild<QPushButton*>(u"removeButton"_s)->isEnabled());
        dialog.findChild<QPushButton*>(u"removeButton"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 0, 30000);
        QCOMPARE(nodeServices(false), QJsonArray());
    }

    // The status the service holds is the status the client reports, whatever it is.
    void reportsTheServicesStatus_data()
    {
        QTest::addColumn<QString>("status");
        for (const char* status : { "queued", "pinning", "pinned", "failed" })
            QTest::newRow(status) << QString::fromLatin1(status);
    }

    void reportsTheServicesStatus()
    {
        QFETCH(QString, status);
        QVERIFY(addServiceToNode(u"svc"_s, service.endpoint(), service.accessToken()));
        const QString cid = addPinnedFile(status + u".txt"_s, "remote status " + status.toUtf8());
        service.setCourseFor(cid, { status });

        QSignalSpy queued(client.get(), &IpfsClient::remotePinQueued);
        QSignalSpy queueFailed(client.get(), &IpfsClient::remotePinQueueFailed);
        client->remotePinAdd(cid, u"svc"_s, u"label "_s + status, true);
        QTRY_VERIFY_WITH_TIMEOUT(queued.count() + queueFailed.count() > 0, 30000);
        QVERIFY2(queueFailed.isEmpty(), qPrintable(queueFailed.value(0).value(2).toString()));
        const QList<PinningService::Pin> held = service.pinsOf(cid);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().name, u"label "_s + status);

        QSignalSpy received(client.get(), &IpfsClient::remotePinStatusReceived);
        QSignalSpy failed(client.get(), &IpfsClient::remotePinStatusFailed);
        client->fetchRemotePinStatus(cid, u"svc"_s);
        QTRY_VERIFY_WITH_TIMEOUT(received.count() + failed.count() > 0, 30000);
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(2).toString()));
        QCOMPARE(received.first().at(2).toString(), status);
    }

    // The add dialog's remote pin: the root goes to the service, the window follows it until the
    // service says pinned, and the local pin goes when asked to.
    void theAddFlowPinsRemotely_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("unpinLocal");
        QTest::newRow("local and remote") << u"both"_s << false;
        QTest::newRow("remote only, unpin locally") << u"remote"_s << true;
    }

    void theAddFlowPinsRemotely()
    {
        QFETCH(QString, destination);
        QFETCH(bool, unpinLocal);
        QVERIFY(addServiceToNode(u"svc"_s, service.endpoint(), service.accessToken()));
        service.setCourse({ u"queued"_s, u"pinning"_s, u"pinned"_s }, 300);
        const QString path = writeFile(destination + u".txt"_s, "added for " + destination.toUtf8());
        const QString root = wrappedRoot(destination + u".txt"_s, "added for " + destination.toUtf8());

        KuboWindow window(node);
        window.get()->setRemotePinPollInterval(100);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 30000);
        AddChoice choice;
        choice.paths = { path };
        choice.destination = destination;
        choice.service = u"svc"_s;
        choice.label = u"remote "_s + destination;
        choice.unpinLocal = unpinLocal;
        const auto result = addThroughTheWindow(window.get(), choice);
        const QString summary = u"Remote pin complete on 'svc': 1 pinned, 0 failed."_s;
        QTRY_VERIFY_WITH_TIMEOUT(statusLines(window).contains(summary), 60000);
        QVERIFY(result->seen);

        const QList<PinningService::Pin> held = service.pinsOf(root);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().name, u"remote "_s + destination);
        QCOMPARE(held.first().status(), u"pinned"_s);
        if (unpinLocal)
            QTRY_VERIFY_WITH_TIMEOUT(!pinnedLocally(root), 30000);
        else
            QVERIFY(pinnedLocally(root));
    }

    // A pin the service fails is reported failed at once and keeps its local pin.
    void theAddFlowReportsAFailedRemotePin()
    {
        QVERIFY(addServiceToNode(u"svc"_s, service.endpoint(), service.accessToken()));
        service.setCourse({ u"failed"_s });
        const QString path = writeFile(u"failing.txt"_s, "the service fails this one");
        const QString root = wrappedRoot(u"failing.txt"_s, "the service fails this one");
        KuboWindow window(node);
        window.get()->setRemotePinPollInterval(100);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 30000);
        service.clearRequests(); // the count below is of this add's polls alone
        AddChoice choice;
        choice.paths = { path };
        choice.destination = u"remote"_s;
        choice.service = u"svc"_s;
        choice.unpinLocal = true;
        const auto result = addThroughTheWindow(window.get(), choice);
        QTRY_VERIFY_WITH_TIMEOUT(statusLines(window).contains(u"Remote pin complete on 'svc': 0 pinned, 1 failed."_s), 30000);
        QVERIFY(result->seen);
        QCOMPARE(service.pinsOf(root).size(), 1);
        QVERIFY(pinnedLocally(root));
        // Failed at the first look: the flow did not wait for the poll limit.
        QVERIFY(service.requests(QByteArrayLiteral("GET"), u"/pins"_s).size() <= 5);
    }

    // A service the node cannot reach: the node's reason reaches the user.
    void theAddFlowTellsWhyARemotePinFailed()
    {
        QVERIFY(addServiceToNode(u"down"_s, downEndpoint, u"token"_s));
        const QString probe = addPinnedFile(u"probe.txt"_s, "probe for the reason");
        const QString reason = node.post(u"/pin/remote/add"_s,
            { { u"arg"_s, probe }, { u"service"_s, u"down"_s }, { u"background"_s, u"true"_s } }).message();
        QVERIFY(reason.contains(u"connection refused"_s));

        const QString path = writeFile(u"unreachable.txt"_s, "the service cannot be reached");
        KuboWindow window(node);
        window.get()->setRemotePinPollInterval(100);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 30000);
        AddChoice choice;
        choice.paths = { path };
        choice.destination = u"both"_s;
        choice.service = u"down"_s;
        const auto result = addThroughTheWindow(window.get(), choice);
        QTRY_VERIFY_WITH_TIMEOUT(statusLines(window).contains(u"Remote pin complete on 'down': 0 pinned, 1 failed."_s), 30000);
        // The node's words name the service, not the CID: they are the probe's.
        const QString told = statusLines(window).join(u'\n');
        QVERIFY2(told.contains(reason), qPrintable(told.right(800) + u"\n--- wanted: "_s + reason));
        QVERIFY(result->seen);
        QVERIFY2(!result->text.contains(u"completed successfully"_s), qPrintable(result->text));
    }
};

QTEST_MAIN(TestKuboRemote)
#include "tst_kubo_remote.moc"
