#include <QtTest>

#include "appsettings.h"
#include "e2enode.h"
#include "ipfsclient.h"
#include "pincontentsdialog.h"
#include "testsettings.h"

#include <QApplication>
#include <QDirIterator>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>

// The client against an independent node: every expectation is read from the node's own answers.
class TestE2eClient : public QObject
{
    Q_OBJECT

    E2eNode node;
    QString folderCid; // recursive pin of a wrapped folder
    QString directCid; // direct pin
    QString unpinnedCid; // stored, not pinned

    // The node's own view of its pins of one type, in the text form the client asks for.
    QSet<QString> nodePins(const QString& type)
    {
        const auto answer = node.post(QStringLiteral("/pin/ls"),
            { { QStringLiteral("type"), type }, { QStringLiteral("cid-base"), QStringLiteral("base32") } });
        QSet<QString> cids;
        const QJsonObject keys = answer.json().object().value(QStringLiteral("Keys")).toObject();
        for (auto it = keys.begin(); it != keys.end(); ++it)
            cids.insert(it.key());
        return cids;
    }

    static QString base32(const QString& cid) { return E2eNode::toBase32(cid); }

    QList<PinEntry> load(IpfsClient& client, const QString& filter)
    {
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        client.fetchPins(filter, QStringLiteral("base32"), true);
        if (!received.wait(30000))
            return {};
        return received.first().first().value<QList<PinEntry>>();
    }

    static QSet<QString> cidsOf(const QList<PinEntry>& pins)
    {
        QSet<QString> cids;
        for (const PinEntry& pin : pins)
            cids.insert(pin.cid);
        return cids;
    }

    QList<QPair<QString, QByteArray>> folderFiles { { QStringLiteral("docs/readme.txt"), "read me\n" },
        { QStringLiteral("docs/notes/a.txt"), "note a\n" },
        { QStringLiteral("docs/notes/b.txt"), "note b\n" } };
    QString docsCid; // the "docs" folder inside the wrapper
    QString readmeCid;

    // Answers the next folder dialog with the given folder.
    void chooseFolderNext(const QString& folder)
    {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [timer, folder] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer->stop();
            timer->deleteLater();
            dialog->setDirectory(folder);
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->clear();
            const QStringList chosen = dialog->selectedFiles();
            if (chosen.size() != 1 || QFileInfo(chosen.first()) != QFileInfo(folder)) {
                dialog->reject();
                return;
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        timer->start();
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        E2E_START_NODE(node);
        const QList<QPair<QString, QString>> pinned { { QStringLiteral("cid-version"), QStringLiteral("1") },
            { QStringLiteral("wrap-with-directory"), QStringLiteral("true") } };
        const auto folder = node.add(folderFiles, pinned);
        QVERIFY(!folder.isEmpty());
        folderCid = base32(folder.last().value(QStringLiteral("Hash")).toString());
        for (const QJsonObject& entry : folder) {
            const QString name = entry.value(QStringLiteral("Name")).toString();
            if (name == QLatin1String("docs"))
                docsCid = base32(entry.value(QStringLiteral("Hash")).toString());
            if (name == QLatin1String("docs/readme.txt"))
                readmeCid = base32(entry.value(QStringLiteral("Hash")).toString());
        }
        QVERIFY(!docsCid.isEmpty() && !readmeCid.isEmpty());

        const QList<QPair<QString, QString>> unpinnedAdd { { QStringLiteral("cid-version"),
                                                               QStringLiteral("1") },
            { QStringLiteral("pin"), QStringLiteral("false") } };
        directCid = base32(node.add({ { QStringLiteral("direct.txt"), "direct\n" } }, unpinnedAdd)
                               .last()
                               .value(QStringLiteral("Hash"))
                               .toString());
        QCOMPARE(node.post(QStringLiteral("/pin/add"),
                         { { QStringLiteral("arg"), directCid },
                             { QStringLiteral("recursive"), QStringLiteral("false") } })
                     .status,
            200);
        unpinnedCid = base32(node.add({ { QStringLiteral("loose.txt"), "loose\n" } }, unpinnedAdd)
                                 .last()
                                 .value(QStringLiteral("Hash"))
                                 .toString());
    }

    void listsPinsOfEveryFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("nodeTypes");
        QTest::newRow("recursive") << QStringLiteral("recursive")
                                   << QStringList { QStringLiteral("recursive") };
        QTest::newRow("direct") << QStringLiteral("direct") << QStringList { QStringLiteral("direct") };
        QTest::newRow("recursive+direct") << QStringLiteral(
            "recursive+direct") << QStringList { QStringLiteral("recursive"), QStringLiteral("direct") };
        QTest::newRow("indirect") << QStringLiteral("indirect") << QStringList { QStringLiteral("indirect") };
        QTest::newRow("all") << QStringLiteral("all") << QStringList { QStringLiteral("all") };
    }

    void listsPinsOfEveryFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, nodeTypes);
        QSet<QString> expected;
        for (const QString& type : nodeTypes)
            expected += nodePins(type);
        QVERIFY(!expected.isEmpty());

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy errors(&client, &IpfsClient::errorOccurred);
        const QList<PinEntry> pins = load(client, filter);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(cidsOf(pins), expected);
        for (const PinEntry& pin : pins) {
            QVERIFY2(!pin.type.isEmpty(), qPrintable(pin.cid));
            QCOMPARE(pin.refsCount, -1);
        }
        if (filter == QLatin1String("recursive+direct")) {
            QVERIFY(cidsOf(pins).contains(folderCid));
            QVERIFY(cidsOf(pins).contains(directCid));
        }
    }

    void findsUnpinnedLocalContent()
    {
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        client.fetchUnpinned();
        QVERIFY(received.wait(30000));
        const QSet<QString> unpinned = cidsOf(received.first().first().value<QList<PinEntry>>());
        QVERIFY(unpinned.contains(unpinnedCid));
        QVERIFY(!unpinned.contains(folderCid));
        QVERIFY(!unpinned.contains(directCid));
        QVERIFY((unpinned & nodePins(QStringLiteral("all"))).isEmpty());
    }

    void showsTheNodesIdentity()
    {
        const QJsonObject id = node.post(QStringLiteral("/id")).json().object();
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy info(&client, &IpfsClient::nodeInfoReceived);
        client.fetchNodeInfo();
        QVERIFY(info.wait(30000));
        QCOMPARE(info.first().at(0).toString(), id.value(QStringLiteral("ID")).toString());
        QCOMPARE(info.first().at(1).toString(), id.value(QStringLiteral("AgentVersion")).toString());
    }

    void guardsAgainstBrowsersAsTheFakeNodeDoes()
    {
        // What Qt sends by default ("User-Agent: Mozilla/5.0", no Origin) is refused as a browser,
        // and only POST is served: the fake node's rules hold on an independent node too.
        const QUrl url(QStringLiteral("http://%1:%2/api/v0/id").arg(node.host()).arg(node.port()));
        QNetworkAccessManager bare;
        const auto statusOf = [](QNetworkReply* reply) {
            QSignalSpy done(reply, &QNetworkReply::finished);
            if (!reply->isFinished())
                done.wait(30000);
            reply->deleteLater();
            return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        };
        QCOMPARE(statusOf(bare.post(QNetworkRequest(url), QByteArray())), 403);
        QNetworkRequest get(url);
        get.setHeader(QNetworkRequest::UserAgentHeader, vaxelUserAgent());
        QCOMPARE(statusOf(bare.get(get)), 405);

        // The client names itself and is served.
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy info(&client, &IpfsClient::nodeInfoReceived);
        QSignalSpy errors(&client, &IpfsClient::errorOccurred);
        client.fetchNodeInfo();
        QVERIFY(info.wait(30000));
        QCOMPARE(errors.count(), 0);
    }

    void listsAFolderAsTheNodeDoes()
    {
        const QJsonArray objects = node.post(QStringLiteral("/ls"), { { QStringLiteral("arg"), docsCid } })
                                       .json()
                                       .object()
                                       .value(QStringLiteral("Objects"))
                                       .toArray();
        QVERIFY(!objects.isEmpty());
        QSet<QString> expected;
        for (const QJsonValue& link : objects.first().toObject().value(QStringLiteral("Links")).toArray())
            expected.insert(link.toObject().value(QStringLiteral("Name")).toString());

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy listed(&client, &IpfsClient::lsReceived);
        client.fetchLs(docsCid);
        QVERIFY(listed.wait(30000));
        QCOMPARE(listed.first().at(0).toString(), docsCid);
        QSet<QString> names;
        for (const LsEntry& entry : listed.first().at(1).value<QList<LsEntry>>())
            names.insert(entry.name);
        QCOMPARE(names, expected);
        QVERIFY(names.contains(QStringLiteral("notes")));
    }

    void readsAFile()
    {
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy content(&client, &IpfsClient::catReceived);
        client.fetchCat(readmeCid);
        QVERIFY(content.wait(30000));
        QCOMPARE(content.first().at(1).toByteArray(), QByteArray("read me\n"));
    }

    void downloadsAPinsContents()
    {
        QTemporaryDir target;
        QVERIFY(target.isValid());
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        auto* dialog = new PinContentsDialog(docsCid, &client, nullptr);
        dialog->show();
        QPushButton* saveAll = nullptr;
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text().startsWith(QStringLiteral("Save all")))
                saveAll = button;
        }
        QVERIFY(saveAll);
        QTRY_VERIFY_WITH_TIMEOUT(saveAll->isEnabled(), 30000);
        chooseFolderNext(target.path());
        saveAll->click();
        QTRY_VERIFY_WITH_TIMEOUT(saveAll->isEnabled(), 30000);

        QHash<QString, QByteArray> written;
        QDirIterator it(target.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            written.insert(QFileInfo(path).fileName(), file.readAll());
        }
        for (const auto& seeded : folderFiles)
            QCOMPARE(written.value(QFileInfo(seeded.first).fileName()), seeded.second);
        QCOMPARE(written.size(), folderFiles.size());
        delete dialog;
    }

    void countsRefsAndTellsKinds()
    {
        const QByteArray refsBody = node.post(QStringLiteral("/refs"),
                                            { { QStringLiteral("arg"), folderCid },
                                                { QStringLiteral("recursive"), QStringLiteral("true") } })
                                        .body;
        const int expectedRefs = int(refsBody.count("\"Ref\""));
        QVERIFY(expectedRefs > 0);

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy refs(&client, &IpfsClient::refsReceived);
        QSignalSpy kinds(&client, &IpfsClient::kindReceived);
        client.fetchRefs(folderCid);
        client.fetchKind(docsCid);
        client.fetchKind(readmeCid);
        QTRY_VERIFY_WITH_TIMEOUT(refs.count() == 1 && kinds.count() == 2, 30000);
        QCOMPARE(refs.first().at(1).toStringList().size(), expectedRefs);
        QHash<QString, QString> kindOf;
        for (const auto& answer : kinds)
            kindOf.insert(answer.at(0).toString(), answer.at(1).toString());
        QCOMPARE(kindOf.value(docsCid), QStringLiteral("Directory"));
        QCOMPARE(kindOf.value(readmeCid), QStringLiteral("File"));
    }

    void aMissingCommandEndsInTheFailureText()
    {
        // This node has no "/dag/stat": the size stays unknown and the failure is said, no crash.
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy sizes(&client, &IpfsClient::dagStatReceived);
        QSignalSpy errors(&client, &IpfsClient::errorOccurred);
        client.fetchObjectStat(folderCid);
        QVERIFY(sizes.wait(30000));
        QCOMPARE(sizes.first().at(1).value<qint64>(), qint64(-1));
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.first().first().toString().startsWith(
            QStringLiteral("DAG stat failed for %1: ").arg(folderCid)));
    }

    void unpinRemovesThePin()
    {
        QVERIFY(nodePins(QStringLiteral("direct")).contains(directCid));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy unpinned(&client, &IpfsClient::unpinned);
        client.unpin({ directCid }, false);
        QVERIFY(unpinned.wait(30000));
        // The node's own text of the CID: this node prints version 1 CIDs in base58.
        const QStringList reported = unpinned.first().first().toStringList();
        QCOMPARE(reported.size(), 1);
        QCOMPARE(base32(reported.first()), directCid);
        QVERIFY(!nodePins(QStringLiteral("direct")).contains(directCid));
        QVERIFY(!cidsOf(load(client, QStringLiteral("recursive+direct"))).contains(directCid));
    }
};

QTEST_MAIN(TestE2eClient)
#include "tst_e2e_client.moc"
