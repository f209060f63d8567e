#include <QtTest>

#include "e2enode.h"
#include "ipfsclient.h"
#include "testsettings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

// Uploads through the client to an independent node; every expectation is the node's own answer.
class TestE2eAdd : public QObject
{
    Q_OBJECT

    E2eNode node;
    QTemporaryDir dir;

    static bool write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QSet<QString> nodeRecursivePins()
    {
        const auto answer = node.post(QStringLiteral("/pin/ls"),
            { { QStringLiteral("type"), QStringLiteral("recursive") },
                { QStringLiteral("cid-base"), QStringLiteral("base32") } });
        QSet<QString> cids;
        const QJsonObject keys = answer.json().object().value(QStringLiteral("Keys")).toObject();
        for (auto it = keys.begin(); it != keys.end(); ++it)
            cids.insert(it.key());
        return cids;
    }

    QStringList nodeLinkNames(const QString& cid)
    {
        const auto answer = node.post(QStringLiteral("/ls"), { { QStringLiteral("arg"), cid } });
        QStringList names;
        const QJsonArray objects = answer.json().object().value(QStringLiteral("Objects")).toArray();
        for (const QJsonValue& object : objects) {
            for (const QJsonValue& link : object.toObject().value(QStringLiteral("Links")).toArray())
                names.append(link.toObject().value(QStringLiteral("Name")).toString());
        }
        names.sort();
        return names;
    }

    // Adds dir/<name> as one folder through a client of the node and waits for its answer; the
    // test fails when the add does.
    void addFolder(const QString& name, bool wrap, QList<AddEntry>* entries, QString* rootCid = nullptr)
    {
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy completed(&client, &IpfsClient::addCompleted);
        QSignalSpy failed(&client, &IpfsClient::addFailed);
        AddOptions options;
        options.wrapWithDirectory = wrap;
        LocalPathSelection folder;
        folder.localPath = dir.filePath(name);
        folder.name = name;
        folder.isDirectory = true;
        client.addLocalPaths({ folder }, options);
        QTRY_VERIFY_WITH_TIMEOUT(completed.size() + failed.size() > 0, 60000);
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
        *entries = completed.first().at(1).value<QList<AddEntry>>();
        if (rootCid)
            *rootCid = completed.first().at(0).toString();
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        E2E_START_NODE(node);
        QVERIFY(dir.isValid());
        QVERIFY(write(dir.filePath(QStringLiteral("album/cover.txt")), "cover\n"));
        QVERIFY(write(dir.filePath(QStringLiteral("album/.hidden")), "hidden\n"));
        QVERIFY(write(dir.filePath(QStringLiteral("album/tracks/one.txt")), "one\n"));
        QVERIFY(write(dir.filePath(QStringLiteral("album/tracks/two.txt")), "two\n"));
    }

    void addedFolderIsARecursivePin_data()
    {
        QTest::addColumn<bool>("wrap");
        QTest::newRow("wrapped") << true;
        QTest::newRow("not wrapped") << false;
    }

    void addedFolderIsARecursivePin()
    {
        QFETCH(bool, wrap);

        QString rootCid;
        QList<AddEntry> entries;
        addFolder(QStringLiteral("album"), wrap, &entries, &rootCid);
        if (QTest::currentTestFailed())
            return;
        QString folderCid;
        QStringList names;
        for (const AddEntry& entry : entries) {
            names.append(entry.name);
            if (entry.name == QLatin1String("album"))
                folderCid = E2eNode::toBase32(entry.hash);
        }
        // Four files (the hidden one too), two folders, and the wrapper when asked for.
        QCOMPARE(entries.size(), wrap ? 7 : 6);
        QVERIFY2(names.contains(QStringLiteral("album/.hidden")), qPrintable(names.join(u',')));
        QVERIFY(!folderCid.isEmpty());
        // Without wrapping several entries name no single root.
        QCOMPARE(rootCid.isEmpty(), !wrap);
        const QString pinnedCid = wrap ? E2eNode::toBase32(rootCid) : folderCid;

        const QSet<QString> nodePins = nodeRecursivePins();
        QVERIFY2(nodePins.contains(pinnedCid), qPrintable(pinnedCid));
        QCOMPARE(nodeLinkNames(folderCid),
            QStringList(
                { QStringLiteral(".hidden"), QStringLiteral("cover.txt"), QStringLiteral("tracks") }));

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy received(&client, &IpfsClient::pinsReceived);
        client.fetchPins(QStringLiteral("recursive"), QStringLiteral("base32"), true);
        QVERIFY(received.wait(30000));
        QSet<QString> listed;
        for (const PinEntry& pin : received.first().first().value<QList<PinEntry>>()) {
            listed.insert(pin.cid);
            QCOMPARE(pin.type, QStringLiteral("recursive"));
        }
        QCOMPARE(listed, nodePins);
        QVERIFY(listed.contains(pinnedCid));
    }

    void namesArriveAsTheyStandOnDisk()
    {
        // The node decodes file names: '%' and '+' have to reach it escaped, the rest as it is.
        const QStringList names { QStringLiteral("a+b %41.txt"), QStringLiteral("q\"uote.txt"),
            QStringLiteral("caf\u00e9 \u6587.txt") };
        for (const QString& name : names)
            QVERIFY(write(dir.filePath(QStringLiteral("names/") + name), name.toUtf8()));

        QList<AddEntry> entries;
        addFolder(QStringLiteral("names"), false, &entries);
        if (QTest::currentTestFailed())
            return;

        QString folderCid;
        for (const AddEntry& entry : entries) {
            if (entry.name == QLatin1String("names"))
                folderCid = E2eNode::toBase32(entry.hash);
        }
        QVERIFY(!folderCid.isEmpty());
        QStringList expected = names;
        expected.sort();
        QCOMPARE(nodeLinkNames(folderCid), expected);
    }

    void linkCycleEndsInOneWalk()
    {
        QVERIFY(write(dir.filePath(QStringLiteral("cycle/sub/x.txt")), "x\n"));
        QVERIFY(
            QFile::link(dir.filePath(QStringLiteral("cycle")), dir.filePath(QStringLiteral("cycle/sub/up"))));

        QList<AddEntry> entries;
        addFolder(QStringLiteral("cycle"), false, &entries);
        if (QTest::currentTestFailed())
            return;

        QStringList names;
        for (const AddEntry& entry : entries)
            names.append(entry.name);
        names.sort();
        QCOMPARE(names,
            QStringList(
                { QStringLiteral("cycle"), QStringLiteral("cycle/sub"), QStringLiteral("cycle/sub/x.txt") }));
    }
};

QTEST_MAIN(TestE2eAdd)
#include "tst_e2e_add.moc"
