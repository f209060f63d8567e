#include <QtTest>

#include "cidtext.h"
#include "ipfsclient.h"
#include "kubodialogs.h"
#include "kubonode.h"
#include "kubowindow.h"
#include "testhome.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// Adds through the client and the add dialog against a real Kubo: every entry and root is what
// the node itself computes for the same content and options.
class TestKuboAdd : public QObject
{
    Q_OBJECT

    KuboNode node;
    QTemporaryDir dir;
    QList<KuboNode::File> onDisk; // every file below dir, by its path there

    void write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(dir.filePath(path)).absolutePath());
        QFile file(dir.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        onDisk.append({ path, content });
    }

    // The files a selection of top-level names uploads, as the node is sent them.
    QList<KuboNode::File> filesOf(const QStringList& names) const
    {
        QList<KuboNode::File> files;
        for (const QString& name : names) {
            for (const KuboNode::File& file : onDisk) {
                if (file.path == name || file.path.startsWith(name + u'/'))
                    files.append(file);
            }
        }
        return files;
    }

    // What the node answers for the same upload, without storing anything.
    QList<AddEntry> nodeEntries(const QStringList& names, bool wrap, int cidVersion)
    {
        QList<AddEntry> entries;
        const auto lines = node.add(filesOf(names),
            { { u"wrap-with-directory"_s, wrap ? u"true"_s : u"false"_s },
                { u"cid-version"_s, QString::number(cidVersion) }, { u"only-hash"_s, u"true"_s } });
        for (const QJsonObject& line : lines)
            entries.append({ line.value(u"Name"_s).toString(), line.value(u"Hash"_s).toString(), 0 });
        return entries;
    }

    static QStringList namesAndHashes(const QList<AddEntry>& entries)
    {
        QStringList out;
        for (const AddEntry& entry : entries)
            out.append(entry.name + u' ' + entry.hash);
        out.sort();
        return out;
    }

    bool stored(const QString& cid)
    {
        for (const QJsonObject& line : node.post(u"/refs/local"_s).lines()) {
            if (line.value(u"Ref"_s).toString() == blockOf(cid))
                return true;
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        useFreshTestHome();
        QVERIFY(dir.isValid());
        write(u"single.txt"_s, "a single file\n");
        write(u"second.txt"_s, "a second file\n");
        write(u"album/cover.txt"_s, "cover\n");
        write(u"album/.hidden"_s, "hidden\n");
        QByteArray big(700000, Qt::Uninitialized);
        QRandomGenerator generator(3);
        for (char& byte : big)
            byte = char(generator.bounded(256));
        write(u"album/tracks/big.bin"_s, big);
        write(u"album/tracks/one.txt"_s, "one\n");
        write(u"hashed/only.txt"_s, "hashed, never stored\n");
        KUBO_START_NODE(node);
    }

    void cleanupTestCase() { node.stop(); }

    void addsAsTheNodeComputes_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<int>("cidVersion");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("onlyHash");
        QTest::newRow("file, CIDv1, wrapped") << QStringList { u"single.txt"_s } << true << 1 << true << false;
        QTest::newRow("file, CIDv0") << QStringList { u"single.txt"_s } << false << 0 << true << false;
        QTest::newRow("two files, CIDv1") << QStringList { u"single.txt"_s, u"second.txt"_s } << false << 1 << true << false;
        QTest::newRow("folder, CIDv1, wrapped") << QStringList { u"album"_s } << true << 1 << true << false;
        QTest::newRow("folder, CIDv0") << QStringList { u"album"_s } << false << 0 << true << false;
        QTest::newRow("folder, not pinned") << QStringList { u"album"_s } << true << 0 << false << false;
        QTest::newRow("folder, only hash") << QStringList { u"hashed"_s } << true << 1 << true << true;
    }

    void addsAsTheNodeComputes()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, wrap);
        QFETCH(int, cidVersion);
        QFETCH(bool, pin);
        QFETCH(bool, onlyHash);
        const QList<AddEntry> expected = nodeEntries(names, wrap, cidVersion);
        QVERIFY(!expected.isEmpty());

        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy completed(&client, &IpfsClient::addCompleted);
        QSignalSpy failed(&client, &IpfsClient::addFailed);
        QList<LocalPathSelection> selections;
        for (const QString& name : names)
            selections.append({ dir.filePath(name), name, QFileInfo(dir.filePath(name)).isDir() });
        AddOptions options;
        options.wrapWithDirectory = wrap;
        options.cidVersion = cidVersion;
        options.pin = pin;
        options.onlyHash = onlyHash;
        client.addLocalPaths(selections, options);
        QTRY_VERIFY_WITH_TIMEOUT(completed.count() + failed.count() > 0, 60000);
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));

        const QList<AddEntry> entries = completed.first().at(1).value<QList<AddEntry>>();
        QCOMPARE(namesAndHashes(entries), namesAndHashes(expected));
        const QString root = wrap ? expected.last().hash : expected.size() == 1 ? expected.first().hash : QString();
        QCOMPARE(completed.first().at(0).toString(), root);

        // The top-level items (or the wrapper) are what the node pins; only-hash stores nothing.
        const auto recursive = node.pins(u"recursive"_s);
        for (const AddEntry& entry : expected) {
            const bool topLevel = wrap ? entry.hash == expected.last().hash : !entry.name.contains(u'/');
            if (!topLevel)
                continue;
            const bool pinned = std::any_of(recursive.keyBegin(), recursive.keyEnd(),
                [&entry](const QString& cid) { return blockOf(cid) == blockOf(entry.hash); });
            QCOMPARE(pinned, pin && !onlyHash);
            QCOMPARE(stored(entry.hash), !onlyHash);
        }
    }

    // One name twice in a wrapped upload: the node answers the first entry, then fails in the
    // stream's trailer.
    void aFailureAfterTheStreamBeganFailsTheAdd()
    {
        const KuboNode::Answer answer = node.addRaw(
            { { u"same.txt"_s, "first\n" }, { u"same.txt"_s, "second\n" } }, { { u"wrap-with-directory"_s, u"true"_s } });
        const QString nodeMessage = QString::fromUtf8(answer.trailer("X-Stream-Error"));
        QCOMPARE(answer.status, 200);
        QVERIFY(!nodeMessage.isEmpty());
        QVERIFY(!answer.lines().isEmpty());

        write(u"twice/same.txt"_s, "first\n");
        write(u"again/same.txt"_s, "second\n");
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        QSignalSpy completed(&client, &IpfsClient::addCompleted);
        QSignalSpy failed(&client, &IpfsClient::addFailed);
        client.addLocalPaths({ { dir.filePath(u"twice/same.txt"_s), u"same.txt"_s, false },
                                 { dir.filePath(u"again/same.txt"_s), u"same.txt"_s, false } },
            AddOptions());
        QTRY_VERIFY_WITH_TIMEOUT(completed.count() + failed.count() > 0, 30000);
        QCOMPARE(completed.count(), 0);
        QCOMPARE(failed.first().first().toString(), u"Add failed: "_s + nodeMessage);
    }

    void theAddDialogAddsAsTheNodeComputes()
    {
        const QList<AddEntry> expected = nodeEntries({ u"album"_s }, true, 1);
        KuboWindow window(node);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 30000);
        AddChoice choice;
        choice.paths = { dir.filePath(u"album"_s) };
        const auto result = addThroughTheWindow(window.get(), choice);
        QTRY_VERIFY_WITH_TIMEOUT(result->seen, 60000);
        QCOMPARE(result->text, u"Add operation completed successfully.\n\nRoot CID:\n"_s + expected.last().hash);
        // The refresh after the add lists the new pin.
        QTRY_VERIFY_WITH_TIMEOUT(window.rows().contains(expected.last().hash), 30000);
    }
};

QTEST_MAIN(TestKuboAdd)
#include "tst_kubo_add.moc"
