#include <QtTest>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QList<AddEntry>)

namespace {

using Part = FakeKuboNode::MultipartPart;

QByteArray addLine(const QString& name, const QString& hash, const QByteArray& size = "1")
{
    return QStringLiteral("{\"Name\":\"%1\",\"Hash\":\"%2\",\"Size\":\"%3\"}\n")
        .arg(name, hash, QString::fromLatin1(size))
        .toUtf8();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString dispositionName(const Part& part)
{
    const QByteArray disposition = part.header("Content-Disposition");
    const QByteArray prefix = "form-data; name=\"file\"; filename=\"";
    if (!disposition.startsWith(prefix) || !disposition.endsWith('"'))
        return QStringLiteral("<malformed: %1>").arg(QString::fromUtf8(disposition));
    return QString::fromUtf8(disposition.mid(prefix.size(), disposition.size() - prefix.size() - 1));
}

QStringList partNames(const QList<Part>& parts)
{
    QStringList names;
    for (const Part& part : parts)
        names.append(dispositionName(part));
    return names;
}

LocalPathSelection selection(const QString& path, const QString& name = QString())
{
    LocalPathSelection s;
    s.localPath = path;
    s.name = name;
    s.isDirectory = QFileInfo(path).isDir();
    return s;
}

} // namespace

// The upload as a node sees it: the multipart body, the query, and what the client makes of
// the streamed answer.
class TestAddUpload : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    QTemporaryDir* dir = nullptr;

    QString path(const QString& relative) const { return dir->filePath(relative); }

    // Starts an upload and waits for its one outcome.
    struct Outcome {
        bool completed = false;
        QString rootCid;
        QList<AddEntry> entries;
        QString failure;
        QList<QList<QVariant>> progress;
        int outcomes = 0; // exactly one of completed or failed per upload
    };

    Outcome runAdd(const QList<LocalPathSelection>& selections, const AddOptions& options = AddOptions())
    {
        QSignalSpy completed(client, &IpfsClient::addCompleted);
        QSignalSpy failed(client, &IpfsClient::addFailed);
        QSignalSpy progress(client, &IpfsClient::addProgress);
        // A real event loop, not a polling wait: the body is fed to the network as fast as it goes.
        QEventLoop loop;
        connect(client, &IpfsClient::addCompleted, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        connect(client, &IpfsClient::addFailed, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        client->addLocalPaths(selections, options);
        loop.exec();

        Outcome outcome;
        outcome.outcomes = int(completed.size() + failed.size());
        if (!completed.isEmpty()) {
            outcome.completed = true;
            outcome.rootCid = completed.first().at(0).toString();
            outcome.entries = completed.first().at(1).value<QList<AddEntry>>();
        }
        if (!failed.isEmpty())
            outcome.failure = failed.first().at(0).toString();
        for (const QList<QVariant>& args : std::as_const(progress))
            outcome.progress.append(args);
        return outcome;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
        qRegisterMetaType<QList<AddEntry>>();
    }

    void init()
    {
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
    }

    void cleanup()
    {
        delete client;
        delete node;
        delete dir;
    }

    void folderTreeBecomesDepthFirstParts()
    {
        QVERIFY(writeFile(path(QStringLiteral("photos/b.jpg")), "jpeg bytes"));
        QVERIFY(writeFile(path(QStringLiteral("photos/a.txt")), "text"));
        QVERIFY(writeFile(path(QStringLiteral("photos/A/x.txt")), "x"));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("photos/A/x.txt"), QStringLiteral("Qx")),
                addLine(QStringLiteral("photos/a.txt"), QStringLiteral("Qa")),
                addLine(QStringLiteral("photos/b.jpg"), QStringLiteral("Qb")),
                addLine(QStringLiteral("photos/A"), QStringLiteral("QA")),
                addLine(QStringLiteral("photos"), QStringLiteral("Qp")),
                addLine(QString(), QStringLiteral("Qroot")) }));
        QSignalSpy logged(client, &IpfsClient::rpcRequestIssued);

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("photos"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY2(outcome.completed, qPrintable(outcome.failure));
        QCOMPARE(outcome.rootCid, QStringLiteral("Qroot"));
        QCOMPARE(outcome.entries.size(), 6);
        QCOMPARE(outcome.progress.size(), 6);
        QCOMPARE(outcome.progress.at(0), (QList<QVariant> { QStringLiteral("photos/A/x.txt"), 1, 3 }));
        QCOMPARE(outcome.progress.at(5), (QList<QVariant> { QString(), 6, 3 }));

        QCOMPARE(node->requestCount(QStringLiteral("/add")), 1);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/add")).first();
        QCOMPARE(logged.size(), 1);
        QVERIFY(logged.first().first().toString().endsWith(
            QStringLiteral(" POST http://127.0.0.1:%1/api/v0/add?%2")
                .arg(node->port())
                .arg(request.rawQuery)));
        QVERIFY(request.header("Content-Type").startsWith("multipart/form-data; boundary="));
        QVERIFY(request.header("User-Agent").startsWith("Vaxel/"));
        QVERIFY(!request.hasHeader("Origin"));

        const QList<Part>& parts = request.parts;
        QCOMPARE(partNames(parts),
            (QStringList { QStringLiteral("photos"), QStringLiteral("photos/A"),
                QStringLiteral("photos/A/x.txt"), QStringLiteral("photos/a.txt"),
                QStringLiteral("photos/b.jpg") }));
        using Headers = QList<QPair<QByteArray, QByteArray>>;
        const QByteArray absolute = QFileInfo(path(QStringLiteral("photos"))).absoluteFilePath().toUtf8();
        QCOMPARE(parts.at(0).headers,
            (Headers { { "Content-Disposition", "form-data; name=\"file\"; filename=\"photos\"" },
                { "Content-Type", "application/x-directory" } }));
        QCOMPARE(parts.at(0).body, QByteArray());
        QCOMPARE(parts.at(1).header("Content-Type"), QByteArray("application/x-directory"));
        QCOMPARE(parts.at(4).headers,
            (Headers { { "Content-Disposition", "form-data; name=\"file\"; filename=\"photos/b.jpg\"" },
                { "Abspath", absolute + "/b.jpg" }, { "Content-Type", "application/octet-stream" } }));
        QCOMPARE(parts.at(2).header("Abspath"), absolute + "/A/x.txt");
        QCOMPARE(parts.at(2).body, QByteArray("x"));
        QCOMPARE(parts.at(3).body, QByteArray("text"));
        QCOMPARE(parts.at(4).body, QByteArray("jpeg bytes"));
    }

    void queryCarriesEveryOption_data()
    {
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("onlyHash");
        QTest::addColumn<int>("cidVersion");
        QTest::addColumn<QString>("query");

        // Every combination: a false flag is sent as "false", never left out.
        for (int combination = 0; combination < 16; ++combination) {
            const bool wrap = combination & 1;
            const bool pin = combination & 2;
            const bool onlyHash = combination & 4;
            const int cidVersion = (combination & 8) ? 0 : 1;
            const auto word
                = [](bool flag) { return flag ? QStringLiteral("true") : QStringLiteral("false"); };
            QTest::addRow("wrap=%d pin=%d only-hash=%d v%d", wrap, pin, onlyHash, cidVersion)
                << wrap << pin << onlyHash << cidVersion
                << QStringLiteral("recursive=true&wrap-with-directory=%1&pin=%2&only-hash=%3&cid-version=%4")
                       .arg(word(wrap), word(pin), word(onlyHash))
                       .arg(cidVersion);
        }
        // The dialog's defaults, spelled out.
        QTest::newRow("defaults")
            << true << true << false << 1
            << "recursive=true&wrap-with-directory=true&pin=true&only-hash=false&cid-version=1";
    }

    void queryCarriesEveryOption()
    {
        QFETCH(bool, wrap);
        QFETCH(bool, pin);
        QFETCH(bool, onlyHash);
        QFETCH(int, cidVersion);
        QFETCH(QString, query);
        QVERIFY(writeFile(path(QStringLiteral("one.txt")), "1"));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("one.txt"), QStringLiteral("Q1")) }));
        AddOptions options;
        options.wrapWithDirectory = wrap;
        options.pin = pin;
        options.onlyHash = onlyHash;
        options.cidVersion = cidVersion;
        options.pinDestination = QStringLiteral("remote"); // not part of the upload
        options.remoteServiceNickname = QStringLiteral("svc");

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("one.txt"))) }, options);
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        QCOMPARE(node->requests(QStringLiteral("/add")).first().rawQuery, query);
    }

    void rootCidFollowsWrapping_data()
    {
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("root");
        QTest::addColumn<int>("entries");

        const QByteArray one = addLine(QStringLiteral("a"), QStringLiteral("Qa"));
        const QByteArray two = one + addLine(QStringLiteral("b"), QStringLiteral("Qb"));
        QTest::newRow("one file, no wrap") << false << one << "Qa" << 1;
        QTest::newRow("two files, no wrap") << false << two << "" << 2;
        QTest::newRow("wrap: last entry")
            << true << two + addLine(QString(), QStringLiteral("Qw")) << "Qw" << 3;
        QTest::newRow("wrap, one entry") << true << one << "Qa" << 1;
        QTest::newRow("nothing reported") << true << QByteArray("\n\n") << "" << 0;
        QTest::newRow("junk and hashless lines skipped")
            << false << QByteArray("not json\n[1,2]\n{\"Name\":\"x\"}\n{\"Name\":\"p\",\"Bytes\":5}\n") + one
            << "Qa" << 1;
    }

    void rootCidFollowsWrapping()
    {
        QFETCH(bool, wrap);
        QFETCH(QByteArray, stream);
        QFETCH(QString, root);
        QFETCH(int, entries);
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        node->route(QStringLiteral("/add"), FakeKuboNode::streamed({ stream }));
        AddOptions options;
        options.wrapWithDirectory = wrap;

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("a"))) }, options);
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        QCOMPARE(outcome.rootCid, root);
        QCOMPARE(outcome.entries.size(), entries);
    }

    void lineSplitAcrossDeliveriesIsReadOnce()
    {
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        const QByteArray first = addLine(QStringLiteral("a"), QStringLiteral("Qa"), "12");
        const QByteArray second = addLine(QStringLiteral("b"), QStringLiteral("Qb"));
        // The first object arrives in three pieces, the second ends the third piece.
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed(
                { first.left(7), first.mid(7, 10), first.mid(17) + second.left(4), second.mid(4) }, 40));
        const Outcome outcome = runAdd({ selection(path(QStringLiteral("a"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        QCOMPARE(outcome.progress.size(), 2);
        QCOMPARE(outcome.progress.at(0), (QList<QVariant> { QStringLiteral("a"), 1, 1 }));
        QCOMPARE(outcome.progress.at(1), (QList<QVariant> { QStringLiteral("b"), 2, 1 }));
        QCOMPARE(outcome.entries.first().size, 12);
        QCOMPARE(outcome.rootCid, QStringLiteral("Qb"));
    }

    void finalLineWithoutNewline_data()
    {
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<QByteArray>("streamError");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<QString>("failure");

        const QByteArray entry("  {\"Name\":\"\",\"Hash\":\"Qlast\",\"Size\":\"9\"} ");
        QTest::newRow("entry") << entry << QByteArray() << true << "";
        QTest::newRow("hashless") << QByteArray("{\"Name\":\"x\"}") << QByteArray() << true << "";
        QTest::newRow("not json") << QByteArray("{\"Name\":") << QByteArray() << true << "";
        // The node tells a failure after the stream began only in the trailer.
        QTest::newRow("then a failure") << entry << QByteArray("disk full") << false << "Add failed: disk full";
    }

    void finalLineWithoutNewline()
    {
        QFETCH(QByteArray, last);
        QFETCH(QByteArray, streamError);
        QFETCH(bool, completed);
        QFETCH(QString, failure);
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        FakeKuboNode::Response answer
            = FakeKuboNode::streamed({ addLine(QStringLiteral("a"), QStringLiteral("Qa")), last }, 20);
        answer.streamError = streamError;
        node->route(QStringLiteral("/add"), answer);

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("a"))) });
        QCOMPARE(outcome.outcomes, 1);

        QCOMPARE(outcome.completed, completed);
        QCOMPARE(outcome.failure, failure);
        QCOMPARE(outcome.progress.size(), 1); // the unterminated line reports no progress
        if (completed && last.contains("Qlast")) {
            QCOMPARE(outcome.entries.size(), 2);
            QCOMPARE(outcome.rootCid, QStringLiteral("Qlast"));
            QCOMPARE(outcome.entries.last().size, 9);
        }
    }

    // As Kubo fails an add whose "to-files" target is missing: the entries, then the trailer.
    void aFailureAfterTheEntriesFailsTheUpload()
    {
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        FakeKuboNode::Response answer = FakeKuboNode::streamed(
            { addLine(QStringLiteral("a"), QStringLiteral("Qa")), addLine(QStringLiteral("b"), QStringLiteral("Qb")) },
            10);
        answer.streamError = "to-files: MFS destination parent does not exist";
        node->route(QStringLiteral("/add"), answer);
        const Outcome outcome = runAdd({ selection(path(QStringLiteral("a"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(!outcome.completed);
        QCOMPARE(outcome.failure, QStringLiteral("Add failed: to-files: MFS destination parent does not exist"));
        QCOMPARE(outcome.progress.size(), 2); // the upload reads on to the end
    }

    void httpErrorFails()
    {
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        node->route(QStringLiteral("/add"), FakeKuboNode::kuboError(QStringLiteral("invalid cid version")));
        const Outcome outcome = runAdd({ selection(path(QStringLiteral("a"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(!outcome.completed);
        QVERIFY2(outcome.failure.startsWith(QStringLiteral("Add failed: ")), qPrintable(outcome.failure));
        QVERIFY(outcome.failure.size() > QStringLiteral("Add failed: ").size());
    }

    void refusesInputWithoutSending()
    {
        QSignalSpy logged(client, &IpfsClient::rpcRequestIssued);
        QSignalSpy failed(client, &IpfsClient::addFailed);

        client->addLocalPaths({}, AddOptions());
        QCOMPARE(failed.size(), 1); // at once, inside the call
        QCOMPARE(failed.takeFirst().first().toString(), QStringLiteral("Nothing selected to add."));
        QCOMPARE(logged.size(), 0);

        client->addLocalPaths(
            { selection(path(QStringLiteral("gone"))), selection(path(QStringLiteral("also-gone"))) },
            AddOptions());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.takeFirst().first().toString(),
            QStringLiteral("No readable files or folders found in the selected input."));
        QCOMPARE(logged.size(), 1); // logged before the body was found empty
        QTest::qWait(50);
        QCOMPARE(node->requestCount(QStringLiteral("/add")), 0);
    }

    void skipsWhatCannotBeRead()
    {
        QVERIFY(writeFile(path(QStringLiteral("dir/ok.txt")), "ok"));
        QVERIFY(writeFile(path(QStringLiteral("dir/.hidden")), "h"));
        QVERIFY(writeFile(path(QStringLiteral("single.txt")), "s"));
        QVERIFY(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("dir/dangling"))));
        QCOMPARE(mkfifo(QFile::encodeName(path(QStringLiteral("dir/fifo"))).constData(), 0600), 0);
        QDir().mkpath(path(QStringLiteral("dir/empty")));
        const bool root = geteuid() == 0;
        if (!root) {
            QVERIFY(writeFile(path(QStringLiteral("dir/locked.txt")), "secret"));
            QFile::setPermissions(path(QStringLiteral("dir/locked.txt")), QFileDevice::Permissions());
        }
        node->route(
            QStringLiteral("/add"), FakeKuboNode::streamed({ addLine(QString(), QStringLiteral("Qw")) }));

        const Outcome outcome = runAdd(
            { selection(path(QStringLiteral("vanished.txt"))), selection(path(QStringLiteral("dir"))),
                selection(path(QStringLiteral("single.txt")), QStringLiteral("renamed.txt")) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/add")).first();
        QCOMPARE(partNames(request.parts),
            (QStringList { QStringLiteral("dir"), QStringLiteral("dir/empty"), QStringLiteral("dir/.hidden"),
                QStringLiteral("dir/ok.txt"), QStringLiteral("renamed.txt") }));
        QCOMPARE(outcome.progress.first().at(2).toInt(), 3);
    }

    void linkedFoldersArriveWhereverTheyAreLinkedAndCyclesAreCut()
    {
        QVERIFY(writeFile(path(QStringLiteral("tree/a/file.txt")), "f"));
        QVERIFY(writeFile(path(QStringLiteral("tree/b/b.txt")), "b"));
        QVERIFY(writeFile(path(QStringLiteral("shared/s.txt")), "s"));
        QVERIFY(
            QFile::link(path(QStringLiteral("tree")), path(QStringLiteral("tree/a/up")))); // back to the top
        QVERIFY(
            QFile::link(path(QStringLiteral("tree/a")), path(QStringLiteral("tree/a/self")))); // onto itself
        // A link to a sibling that sorts before it: both names carry the folder.
        QVERIFY(QFile::link(path(QStringLiteral("tree/b")), path(QStringLiteral("tree/0sib"))));
        QVERIFY(QFile::link(path(QStringLiteral("shared")), path(QStringLiteral("tree/link1"))));
        QVERIFY(QFile::link(path(QStringLiteral("shared")), path(QStringLiteral("tree/link2"))));
        QVERIFY(QFile::link(path(QStringLiteral("tree/a/file.txt")), path(QStringLiteral("tree/filelink"))));
        node->route(
            QStringLiteral("/add"), FakeKuboNode::streamed({ addLine(QString(), QStringLiteral("Qw")) }));

        // The linked folder chosen once more, under a name of its own.
        const Outcome outcome = runAdd({ selection(path(QStringLiteral("tree"))),
            selection(path(QStringLiteral("shared")), QStringLiteral("copy")) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        const FakeKuboNode::Request request = node->requests(QStringLiteral("/add")).first();
        // Only the links back into their own path (up, self) are left out; a link to a file
        // carries the file.
        QCOMPARE(partNames(request.parts),
            (QStringList { QStringLiteral("tree"), QStringLiteral("tree/0sib"),
                QStringLiteral("tree/0sib/b.txt"), QStringLiteral("tree/a"),
                QStringLiteral("tree/a/file.txt"), QStringLiteral("tree/b"), QStringLiteral("tree/b/b.txt"),
                QStringLiteral("tree/link1"), QStringLiteral("tree/link1/s.txt"),
                QStringLiteral("tree/link2"), QStringLiteral("tree/link2/s.txt"),
                QStringLiteral("tree/filelink"), QStringLiteral("copy"), QStringLiteral("copy/s.txt") }));
        QCOMPARE(request.parts.at(11).body, QByteArray("f"));
        QCOMPARE(outcome.progress.first().at(2).toInt(), 7);
    }

    void namesThatANodeWouldDecodeAreEscaped()
    {
        const QString tricky = QStringLiteral("a+b \"c\"%41\\d.txt");
        const QString accented = QStringLiteral("caf\u00e9 \u6587.txt");
        // A line break would end the header and let the name write headers of its own.
        const QString broken = QStringLiteral("line\r\nX-Injected: yes.txt");
        QVERIFY(writeFile(path(tricky), "t"));
        QVERIFY(writeFile(path(accented), "u"));
        QVERIFY(writeFile(path(broken), "b"));
        node->route(
            QStringLiteral("/add"), FakeKuboNode::streamed({ addLine(QString(), QStringLiteral("Qw")) }));

        const Outcome outcome
            = runAdd({ selection(path(tricky)), selection(path(accented)), selection(path(broken)) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        const QList<Part> parts = node->requests(QStringLiteral("/add")).first().parts;
        QCOMPARE(parts.size(), 3);
        QCOMPARE(parts.at(2).header("Content-Disposition"),
            QByteArray("form-data; name=\"file\"; filename=\"line%0D%0AX-Injected: yes.txt\""));
        QCOMPARE(parts.at(2).headers.size(), 3);
        QCOMPARE(parts.at(2).header("Abspath"),
            QFileInfo(path(QStringLiteral("line"))).absoluteFilePath().toUtf8()
                + "%0D%0AX-Injected: yes.txt");
        QCOMPARE(parts.at(2).body, QByteArray("b"));
        QCOMPARE(parts.at(0).header("Content-Disposition"),
            QByteArray("form-data; name=\"file\"; filename=\"a%2Bb %22c%22%2541%5Cd.txt\""));
        QCOMPARE(parts.at(1).header("Content-Disposition"),
            "form-data; name=\"file\"; filename=\"" + accented.toUtf8() + '"');
        QCOMPARE(parts.at(0).header("Abspath"), QFileInfo(path(tricky)).absoluteFilePath().toUtf8());
    }

    void thousandsOfFilesNeedFewDescriptors()
    {
        constexpr int files = 300;
        for (int i = 0; i < files; ++i)
            QVERIFY(writeFile(
                path(QStringLiteral("many/f%1.bin").arg(i, 3, 10, QLatin1Char('0'))), QByteArray::number(i)));
        node->route(
            QStringLiteral("/add"), FakeKuboNode::streamed({ addLine(QString(), QStringLiteral("Qw")) }));

        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = 96; // far below the number of files
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
        const Outcome outcome = runAdd({ selection(path(QStringLiteral("many"))) });
        QCOMPARE(outcome.outcomes, 1);
        setrlimit(RLIMIT_NOFILE, &saved);

        QVERIFY2(outcome.completed, qPrintable(outcome.failure));
        const QList<Part> parts = node->requests(QStringLiteral("/add")).first().parts;
        QCOMPARE(parts.size(), files + 1);
        QCOMPARE(parts.at(1).body, QByteArray("0"));
        QCOMPARE(parts.last().body, QByteArray::number(files - 1));
    }

    void largeFileStreamsWhole()
    {
        QByteArray content(24 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 131) >> 7);
        QVERIFY(writeFile(path(QStringLiteral("big.bin")), content));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("big.bin"), QStringLiteral("Qbig")) }));

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("big.bin"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(outcome.completed);
        const QList<Part> parts = node->requests(QStringLiteral("/add")).first().parts;
        QCOMPARE(parts.size(), 1);
        QVERIFY(parts.first().body == content);
    }

    void droppedConnectionFails()
    {
        QVERIFY(writeFile(path(QStringLiteral("big.bin")), QByteArray(8 * 1024 * 1024, 'b')));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("big.bin"), QStringLiteral("Qbig")) }));
        node->setRequestByteLimit(512 * 1024);

        const Outcome outcome = runAdd({ selection(path(QStringLiteral("big.bin"))) });
        QCOMPARE(outcome.outcomes, 1);

        QVERIFY(!outcome.completed);
        QVERIFY2(outcome.failure.startsWith(QStringLiteral("Add failed: ")), qPrintable(outcome.failure));
    }

    void fileChangedDuringUpload()
    {
        // Shrunk after the body was built: the declared length cannot be met, so the upload fails
        // instead of hanging or sending a torn body.
        QVERIFY(writeFile(path(QStringLiteral("shrinks.bin")), QByteArray(2 * 1024 * 1024, 's')));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("x"), QStringLiteral("Qx")) }));
        QSignalSpy failed(client, &IpfsClient::addFailed);
        QSignalSpy completed(client, &IpfsClient::addCompleted);
        client->addLocalPaths({ selection(path(QStringLiteral("shrinks.bin"))) }, AddOptions());
        QVERIFY(QFile::resize(path(QStringLiteral("shrinks.bin")), 1000));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
        QCOMPARE(failed.first().first().toString(),
            QStringLiteral("Add failed: %1 became shorter while it was being uploaded")
                .arg(QFileInfo(path(QStringLiteral("shrinks.bin"))).absoluteFilePath()));
        QCOMPARE(completed.size(), 0);

        // Grown: what the file held when the upload was built is sent.
        QVERIFY(writeFile(path(QStringLiteral("grows.bin")), "start"));
        client->addLocalPaths({ selection(path(QStringLiteral("grows.bin"))) }, AddOptions());
        QFile grows(path(QStringLiteral("grows.bin")));
        QVERIFY(grows.open(QIODevice::Append));
        grows.write("-and-more");
        grows.close();
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, 20000);
        QCOMPARE(node->requests(QStringLiteral("/add")).last().parts.first().body, QByteArray("start"));

        // Removed before its part went out: the node cannot get it, and the message says which.
        QVERIFY(writeFile(path(QStringLiteral("removed.bin")), "r"));
        client->addLocalPaths({ selection(path(QStringLiteral("removed.bin"))) }, AddOptions());
        QVERIFY(QFile::remove(path(QStringLiteral("removed.bin"))));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 20000);
        QVERIFY2(failed.last().first().toString().startsWith(
                     QStringLiteral("Add failed: Cannot read %1: ").arg(path(QStringLiteral("removed.bin")))),
            qPrintable(failed.last().first().toString()));
        QCOMPARE(completed.size(), 1);
    }

    void progressReceiverMaySpinTheEventLoop()
    {
        // A modal progress dialog processes events inside its slot; the upload may end right there.
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        node->route(QStringLiteral("/add"),
            FakeKuboNode::streamed({ addLine(QStringLiteral("a"), QStringLiteral("Qa"))
                                           + addLine(QStringLiteral("b"), QStringLiteral("Qb")),
                                       addLine(QString(), QStringLiteral("Qw")) },
                30));
        QStringList events;
        bool nested = false;
        connect(client, &IpfsClient::addProgress, this, [&](const QString& name, int processed, int) {
            events.append(QStringLiteral("progress %1 %2").arg(name).arg(processed));
            if (nested)
                return;
            nested = true;
            QEventLoop loop;
            connect(client, &IpfsClient::addCompleted, &loop, &QEventLoop::quit);
            connect(client, &IpfsClient::addFailed, &loop, &QEventLoop::quit);
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            loop.exec();
        });
        connect(client, &IpfsClient::addCompleted, this,
            [&](const QString& root, const QList<AddEntry>& entries) {
                events.append(QStringLiteral("completed %1 %2").arg(root).arg(entries.size()));
            });

        client->addLocalPaths({ selection(path(QStringLiteral("a"))) }, AddOptions());
        QTRY_VERIFY_WITH_TIMEOUT(
            !events.isEmpty() && events.last().startsWith(QStringLiteral("completed")), 20000);
        QTest::qWait(100);
        QCOMPARE(events.last(), QStringLiteral("completed Qw 3"));
        QCOMPARE(events.filter(QStringLiteral("completed")).size(), 1);
        QCOMPARE(events.first(), QStringLiteral("progress a 1"));
    }

    void concurrentUploadsKeepTheirOwnState()
    {
        QVERIFY(writeFile(path(QStringLiteral("a")), "a"));
        node->route(QStringLiteral("/add"), [](const FakeKuboNode::Request& request) {
            const bool wrap
                = request.queryValue(QStringLiteral("wrap-with-directory")) == QStringLiteral("true");
            FakeKuboNode::Response answer = FakeKuboNode::streamed(
                { addLine(QStringLiteral("a"), wrap ? QStringLiteral("Qwrapped") : QStringLiteral("Qplain")),
                    QByteArray("\n") },
                30);
            if (wrap)
                answer.streamError = "only here";
            return answer;
        });
        QSignalSpy completed(client, &IpfsClient::addCompleted);
        QSignalSpy failed(client, &IpfsClient::addFailed);
        AddOptions plain;
        plain.wrapWithDirectory = false;
        client->addLocalPaths({ selection(path(QStringLiteral("a"))) }, AddOptions());
        client->addLocalPaths({ selection(path(QStringLiteral("a"))) }, plain);
        QTRY_COMPARE_WITH_TIMEOUT(completed.size() + failed.size(), 2, 20000);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(completed.first().first().toString(), QStringLiteral("Qplain"));
        QCOMPARE(failed.first().first().toString(), QStringLiteral("Add failed: only here"));
    }
};

QTEST_GUILESS_MAIN(TestAddUpload)
#include "tst_addupload.moc"
