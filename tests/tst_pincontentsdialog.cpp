#include <QtTest>

#include <QApplication>
#include <QDirIterator>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>

#include "appsettings.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "mainwindowharness.h"
#include "pincontentsdialog.h"

namespace {

struct Link {
    QString name;
    QString hash;
    qint64 size = 0;
    int type = 2; // 1 directory, 2 file
};

Link file(const QString& name, const QString& hash, qint64 size = 3)
{
    return { name, hash, size, 2 };
}

Link folder(const QString& name, const QString& hash)
{
    return { name, hash, 0, 1 };
}

QByteArray listing(const QString& cid, const QList<Link>& links, const QString& objectName = QString())
{
    QJsonArray array;
    for (const Link& link : links) {
        array.append(
            QJsonObject { { QStringLiteral("Name"), link.name }, { QStringLiteral("Hash"), link.hash },
                { QStringLiteral("Size"), link.size }, { QStringLiteral("Type"), link.type } });
    }
    QJsonObject object { { QStringLiteral("Hash"), cid }, { QStringLiteral("Links"), array } };
    if (!objectName.isEmpty())
        object.insert(QStringLiteral("Name"), objectName);
    return QJsonDocument(QJsonObject { { QStringLiteral("Objects"), QJsonArray { object } } })
        .toJson(QJsonDocument::Compact);
}

// Every regular file below root, relative, sorted.
QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// The contents browser against a scripted node: the eager walk, root-kind detection, saving,
// and everything a hostile or broken node can send.
class TestPinContentsDialog : public QObject
{
    Q_OBJECT

    FakeKuboNode* node = nullptr;
    IpfsClient* client = nullptr;
    QHash<QString, FakeKuboNode::Response> lsAnswers; // by CID
    QHash<QString, QString> kinds; // by CID: "file" or "directory"
    QHash<QString, FakeKuboNode::Response> catAnswers; // by CID

    PinContentsDialog* open(const QString& root, const QString& displayName = QString())
    {
        auto* dialog = new PinContentsDialog(root, client, nullptr, displayName);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        return dialog;
    }
    static QString status(PinContentsDialog* d)
    {
        return d->findChild<QLabel*>(QStringLiteral("statusLabel"))->text();
    }
    static QTreeWidget* tree(PinContentsDialog* d) { return d->findChild<QTreeWidget*>(); }
    static QPushButton* button(PinContentsDialog* d, const QString& prefix)
    {
        for (QPushButton* b : d->findChildren<QPushButton*>()) {
            if (b->text().startsWith(prefix))
                return b;
        }
        return nullptr;
    }
    static QPushButton* saveAll(PinContentsDialog* d) { return button(d, QStringLiteral("Save all")); }
    static QPushButton* saveSelected(PinContentsDialog* d)
    {
        return button(d, QStringLiteral("Save selected"));
    }
    static bool loaded(PinContentsDialog* d) { return saveAll(d)->isEnabled(); }

    // Answers the next folder dialog with the given folder (empty: cancels it).
    void chooseFolderNext(const QString& folder)
    {
        auto* timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [timer, folder] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer->stop();
            timer->deleteLater();
            if (folder.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(folder);
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->clear();
            // Never let a confused dialog send a save somewhere else.
            const QStringList chosen = dialog->selectedFiles();
            if (chosen.size() != 1 || QFileInfo(chosen.first()) != QFileInfo(folder)) {
                qWarning() << "folder dialog offers" << chosen << "instead of" << folder;
                dialog->reject();
                return;
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        timer->start();
    }

    // Runs "Save all" into folder and waits for the save to end.
    void saveAllInto(PinContentsDialog* dialog, const QString& folder)
    {
        chooseFolderNext(folder);
        saveAll(dialog)->click();
        QTRY_VERIFY(saveAll(dialog)->isEnabled());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
    }

    void init()
    {
        lsAnswers.clear();
        kinds.clear();
        catAnswers.clear();
        node = new FakeKuboNode(this);
        QVERIFY(node->start());
        node->route(QStringLiteral("/ls"), [this](const FakeKuboNode::Request& r) {
            return lsAnswers.value(r.queryValue(QStringLiteral("arg")),
                FakeKuboNode::kuboError(QStringLiteral("no link named")));
        });
        node->route(QStringLiteral("/files/stat"), [this](const FakeKuboNode::Request& r) {
            const QString cid = r.queryValue(QStringLiteral("arg")).mid(6);
            if (!kinds.contains(cid))
                return FakeKuboNode::kuboError(QStringLiteral("not unixfs node (proto or raw)"));
            return FakeKuboNode::json(QStringLiteral("{\"Type\":\"%1\"}").arg(kinds.value(cid)).toUtf8());
        });
        node->route(QStringLiteral("/cat"), [this](const FakeKuboNode::Request& r) {
            return catAnswers.value(
                r.queryValue(QStringLiteral("arg")), FakeKuboNode::kuboError(QStringLiteral("not found")));
        });
        client = new IpfsClient(this);
        client->setEndpoint(node->host(), node->port());
    }

    void cleanup()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* w : windows)
            delete qobject_cast<PinContentsDialog*>(w);
        delete client;
        delete node;
    }

    void walksTheTreeAndSavesBreadthFirst()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { file(QStringLiteral("a"), QStringLiteral("ca"), 1536),
                    folder(QStringLiteral("d"), QStringLiteral("cd")),
                    file(QStringLiteral("c"), QStringLiteral("cc")) })));
        lsAnswers.insert(QStringLiteral("cd"),
            FakeKuboNode::json(
                listing(QStringLiteral("cd"), { file(QStringLiteral("b"), QStringLiteral("cb")) })));
        catAnswers.insert(QStringLiteral("ca"), FakeKuboNode::text("AAA"));
        catAnswers.insert(QStringLiteral("cb"), FakeKuboNode::text("BBB"));
        catAnswers.insert(QStringLiteral("cc"), FakeKuboNode::text("CCC"));

        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Pin contents: root"));
        QCOMPARE(status(dialog), QStringLiteral("Loading…"));
        QVERIFY(!saveAll(dialog)->isEnabled());
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog), QStringLiteral("3 file(s), 1 folder(s)"));
        QTreeWidgetItem* root = tree(dialog)->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("."));
        QVERIFY(root->isExpanded());
        QCOMPARE(root->childCount(), 3);
        QCOMPARE(root->child(0)->text(1), QStringLiteral("1.5 KB"));
        QCOMPARE(root->child(1)->text(1), QString());
        QCOMPARE(root->child(1)->child(0)->text(2), QStringLiteral("cb"));

        QTemporaryDir target;
        saveAllInto(dialog, target.path());
        QCOMPARE(status(dialog), QStringLiteral("Saved 3 file(s) to %1").arg(target.path()));
        QVERIFY(dialog->findChild<QProgressBar*>()->isHidden());
        QStringList order;
        for (const auto& request : node->requests(QStringLiteral("/cat")))
            order << request.queryValue(QStringLiteral("arg"));
        QCOMPARE(order, (QStringList { QStringLiteral("ca"), QStringLiteral("cc"), QStringLiteral("cb") }));
        QCOMPARE(filesBelow(target.path()),
            (QStringList { QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d/b") }));
        QCOMPARE(contents(target.filePath(QStringLiteral("d/b"))), QByteArray("BBB"));
    }

    void savesOnlyTheSelectionAndItsFolders()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { file(QStringLiteral("a"), QStringLiteral("ca")),
                    folder(QStringLiteral("d"), QStringLiteral("cd")) })));
        lsAnswers.insert(QStringLiteral("cd"),
            FakeKuboNode::json(
                listing(QStringLiteral("cd"), { file(QStringLiteral("b"), QStringLiteral("cb")) })));
        catAnswers.insert(QStringLiteral("cb"), FakeKuboNode::text("BBB"));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));

        bool informed = false;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                informed = box->text().startsWith(QStringLiteral("Select one or more files"));
                box->accept();
            }
        });
        saveSelected(dialog)->click();
        QVERIFY(informed);

        tree(dialog)->topLevelItem(0)->child(1)->setSelected(true);
        QTemporaryDir target;
        chooseFolderNext(target.path());
        saveSelected(dialog)->click();
        QTRY_VERIFY(saveAll(dialog)->isEnabled());
        QCOMPARE(filesBelow(target.path()), QStringList { QStringLiteral("d/b") });
    }

    void cancelledFolderChoiceChangesNothing()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(
                listing(QStringLiteral("root"), { file(QStringLiteral("a"), QStringLiteral("ca")) })));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        chooseFolderNext(QString());
        saveAll(dialog)->click();
        QCOMPARE(status(dialog), QStringLiteral("1 file(s), 0 folder(s)"));
        QCOMPARE(node->requestCount(QStringLiteral("/cat")), 0);
    }

    void singleFileRoot_data()
    {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("savedAs");
        const QByteArray png("\x89PNG\r\n\x1a\nrest", 12);
        QTest::newRow("extension guessed") << QStringLiteral("photo") << png << QStringLiteral("photo.png");
        QTest::newRow("own extension kept")
            << QStringLiteral("photo.jpeg") << png << QStringLiteral("photo.jpeg");
        QTest::newRow("no name at all")
            << QString() << QByteArray("text") << QStringLiteral("bafkreisinglefileroot");
        QTest::newRow("hostile display name")
            << QStringLiteral("../../x") << QByteArray("t") << QStringLiteral(".._.._x");
    }

    void singleFileRoot()
    {
        QFETCH(QString, displayName);
        QFETCH(QByteArray, data);
        QFETCH(QString, savedAs);
        const QString cid = QStringLiteral("bafkreisinglefileroot");
        lsAnswers.insert(cid, FakeKuboNode::json(listing(cid, {})));
        kinds.insert(cid, QStringLiteral("file"));
        catAnswers.insert(cid, FakeKuboNode::text(data));
        PinContentsDialog* dialog = open(cid, displayName);
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog), QStringLiteral("1 file(s), 0 folder(s)"));
        QTemporaryDir target;
        saveAllInto(dialog, target.path());
        QCOMPARE(filesBelow(target.path()), QStringList { savedAs });
        QCOMPARE(contents(target.filePath(savedAs)), data);
    }

    // From the pin table: the pin's own name, and its CID for a pin without one (whose Name
    // column shows a placeholder).
    void singleFilePinFromTheTable_data()
    {
        QTest::addColumn<QString>("pinName");
        QTest::addColumn<QString>("savedAs");
        QTest::newRow("named pin") << QStringLiteral("invoice") << QStringLiteral("invoice.pdf");
        QTest::newRow("unnamed pin") << QString() << QStringLiteral("bafkreisinglefileroot.pdf");
    }

    void singleFilePinFromTheTable()
    {
        QFETCH(QString, pinName);
        QFETCH(QString, savedAs);
        const QString cid = QStringLiteral("bafkreisinglefileroot");
        lsAnswers.insert(cid, FakeKuboNode::json(listing(cid, {})));
        kinds.insert(cid, QStringLiteral("file"));
        catAnswers.insert(cid, FakeKuboNode::text("%PDF-1.4"));
        MainWindowHarness ui(node);
        PinEntry pin;
        pin.cid = cid;
        pin.type = QStringLiteral("recursive");
        pin.name = pinName;
        ui.setRows({ pin });
        ui.contextMenuAt(ui.rowOf(cid), QStringLiteral("List files / Export\u2026"));
        const QList<PinContentsDialog*> dialogs = ui.get()->findChildren<PinContentsDialog*>();
        QCOMPARE(dialogs.size(), 1);
        QTRY_VERIFY(loaded(dialogs.first()));

        QTemporaryDir target;
        saveAllInto(dialogs.first(), target.path());
        QCOMPARE(filesBelow(target.path()), QStringList { savedAs });
        QCOMPARE(contents(target.filePath(savedAs)), QByteArray("%PDF-1.4"));
    }

    void chunkedFileRoot()
    {
        const QString cid = QStringLiteral("bafychunkedfileroot0");
        lsAnswers.insert(cid,
            FakeKuboNode::json(listing(cid,
                { file(QString(), QStringLiteral("chunk1"), 100),
                    file(QString(), QStringLiteral("chunk2"), 200) },
                QStringLiteral("movie.mkv"))));
        FakeKuboNode::Response heldKind = FakeKuboNode::held();
        node->route(QStringLiteral("/files/stat"), heldKind);
        catAnswers.insert(cid, FakeKuboNode::text("whole file"));

        PinContentsDialog* dialog = open(cid, QStringLiteral("ignored"));
        QTRY_COMPARE(status(dialog), QStringLiteral("Detecting root type…"));
        QTRY_COMPARE(node->heldCount(QStringLiteral("/files/stat")), 1);
        QVERIFY(!loaded(dialog));
        node->releaseHeld(QStringLiteral("/files/stat"), FakeKuboNode::json(R"({"Type":"file"})"));
        QTRY_VERIFY(loaded(dialog));
        QTreeWidgetItem* root = tree(dialog)->topLevelItem(0);
        QCOMPARE(root->childCount(), 1);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("movie.mkv"));
        QCOMPARE(root->child(0)->text(1), QStringLiteral("300"));
        QCOMPARE(root->child(0)->text(2), cid);
        // The chunks themselves are never listed as folders.
        QCOMPARE(node->requestCount(QStringLiteral("/ls")), 1);

        QTemporaryDir target;
        saveAllInto(dialog, target.path());
        QCOMPARE(contents(target.filePath(QStringLiteral("movie.mkv"))), QByteArray("whole file"));
    }

    void chunkLikeRootThatIsADirectory()
    {
        const QString cid = QStringLiteral("bafydigitsdirectory");
        lsAnswers.insert(cid,
            FakeKuboNode::json(listing(cid,
                { file(QStringLiteral("0"), QStringLiteral("h0")),
                    file(QString(), QStringLiteral("bafyhashprefix1234")) })));
        kinds.insert(cid, QStringLiteral("directory"));
        PinContentsDialog* dialog = open(cid);
        QTRY_VERIFY(loaded(dialog));
        QTreeWidgetItem* root = tree(dialog)->topLevelItem(0);
        QCOMPARE(root->childCount(), 2);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("0"));
        QCOMPARE(root->child(1)->text(0), QStringLiteral("bafyhashpref"));
    }

    void hostileNamesStayInsideAndNeverCollide()
    {
        QTemporaryDir sandbox;
        const QString target = sandbox.filePath(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(target));
        const QList<Link> links = {
            file(QStringLiteral("../escape"), QStringLiteral("c1")),
            file(QStringLiteral("/etc/passwd"), QStringLiteral("c2")),
            file(QStringLiteral("a:b"), QStringLiteral("c3")),
            file(QStringLiteral("a_b"), QStringLiteral("c4")),
            file(QStringLiteral("A_B"), QStringLiteral("c5")),
            file(QStringLiteral("C:\\x"), QStringLiteral("c6")),
            file(QString::fromUtf16(u"nul\u0000byte", 8), QStringLiteral("c7")),
            file(QStringLiteral("line\nbreak"), QStringLiteral("c8")),
            file(QStringLiteral(".."), QStringLiteral("c9")),
            file(QStringLiteral("."), QStringLiteral("c10")),
            folder(QStringLiteral(".."), QStringLiteral("cup")),
        };
        lsAnswers.insert(QStringLiteral("root"), FakeKuboNode::json(listing(QStringLiteral("root"), links)));
        lsAnswers.insert(QStringLiteral("cup"),
            FakeKuboNode::json(
                listing(QStringLiteral("cup"), { file(QStringLiteral("../../up"), QStringLiteral("c11")) })));
        for (int i = 1; i <= 11; ++i)
            catAnswers.insert(
                QStringLiteral("c%1").arg(i), FakeKuboNode::text("data" + QByteArray::number(i)));

        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        saveAllInto(dialog, target);
        QCOMPARE(status(dialog), QStringLiteral("Saved 11 file(s) to %1").arg(target));

        // Nothing outside the chosen folder...
        QCOMPARE(QDir(sandbox.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList { QStringLiteral("save") });
        // ...and eleven distinct files inside, one per link.
        const QStringList saved = filesBelow(target);
        QCOMPARE(saved,
            (QStringList { QStringLiteral(".._escape"), QStringLiteral("A_B (3)"), QStringLiteral("C__x"),
                QStringLiteral("_etc_passwd"), QStringLiteral("a_b"), QStringLiteral("a_b (2)"),
                QStringLiteral("file"), QStringLiteral("file (2)"), QStringLiteral("file (3)/.._.._up"),
                QStringLiteral("line_break"), QStringLiteral("nul_byte") }));
        QCOMPARE(contents(target + QStringLiteral("/a_b")), QByteArray("data3"));
        QCOMPARE(contents(target + QStringLiteral("/a_b (2)")), QByteArray("data4"));
        QCOMPARE(contents(target + QStringLiteral("/A_B (3)")), QByteArray("data5"));
    }

    void neverWritesThroughALinkInTheFolder()
    {
#ifndef Q_OS_UNIX
        QSKIP("symbolic links are made with the platform's own tools here");
#endif
        QTemporaryDir sandbox;
        QTemporaryDir outside;
        const QString target = sandbox.path();
        QVERIFY(QFile::link(outside.path(), target + QStringLiteral("/d")));
        QVERIFY(QFile::link(outside.filePath(QStringLiteral("victim")), target + QStringLiteral("/f")));
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { folder(QStringLiteral("d"), QStringLiteral("cd")),
                    file(QStringLiteral("f"), QStringLiteral("cf")),
                    file(QStringLiteral("ok"), QStringLiteral("cok")) })));
        lsAnswers.insert(QStringLiteral("cd"),
            FakeKuboNode::json(
                listing(QStringLiteral("cd"), { file(QStringLiteral("x"), QStringLiteral("cx")) })));
        catAnswers.insert(QStringLiteral("cx"), FakeKuboNode::text("evil"));
        catAnswers.insert(QStringLiteral("cf"), FakeKuboNode::text("evil"));
        catAnswers.insert(QStringLiteral("cok"), FakeKuboNode::text("fine"));

        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        saveAllInto(dialog, target);
        QVERIFY2(
            status(dialog).startsWith(QStringLiteral("Saved 1 of 3 file(s) to %1; 2 failed").arg(target)),
            qPrintable(status(dialog)));
        QVERIFY(status(dialog).contains(QStringLiteral("symbolic link")));
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
        QCOMPARE(contents(target + QStringLiteral("/ok")), QByteArray("fine"));
        QVERIFY(QFileInfo(target + QStringLiteral("/f")).isSymLink());
    }

    void linkedChosenFolderItselfIsFine()
    {
#ifndef Q_OS_UNIX
        QSKIP("symbolic links are made with the platform's own tools here");
#endif
        QTemporaryDir real;
        QTemporaryDir links;
        const QString viaLink = links.filePath(QStringLiteral("chosen"));
        QVERIFY(QFile::link(real.path(), viaLink));
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(
                listing(QStringLiteral("root"), { file(QStringLiteral("a"), QStringLiteral("ca")) })));
        catAnswers.insert(QStringLiteral("ca"), FakeKuboNode::text("AAA"));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        saveAllInto(dialog, viaLink);
        QCOMPARE(contents(real.filePath(QStringLiteral("a"))), QByteArray("AAA"));
    }

    void listingThatNeverAnswers()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { folder(QStringLiteral("slow"), QStringLiteral("cslow")),
                    file(QStringLiteral("a"), QStringLiteral("ca")) })));
        lsAnswers.insert(QStringLiteral("cslow"), FakeKuboNode::never());
        catAnswers.insert(QStringLiteral("ca"), FakeKuboNode::text("AAA"));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        dialog->setListingTimeout(300);
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog),
            QStringLiteral("1 file(s), 1 folder(s) — incomplete: the node did not answer for 1 folder(s)"));
        QTemporaryDir target;
        saveAllInto(dialog, target.path());
        QCOMPARE(filesBelow(target.path()), QStringList { QStringLiteral("a") });
    }

    void kindThatNeverAnswersShowsTheLinks()
    {
        const QString cid = QStringLiteral("bafychunkynokind");
        lsAnswers.insert(
            cid, FakeKuboNode::json(listing(cid, { file(QStringLiteral("0"), QStringLiteral("h0")) })));
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::never());
        PinContentsDialog* dialog = open(cid);
        dialog->setListingTimeout(300);
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog), QStringLiteral("1 file(s), 0 folder(s) — root type not known yet"));
    }

    void lateKindStillMakesTheSingleFile()
    {
        const QString cid = QStringLiteral("bafychunkedlatekind");
        lsAnswers.insert(cid,
            FakeKuboNode::json(listing(cid,
                { file(QString(), QStringLiteral("chunk1"), 100),
                    file(QString(), QStringLiteral("chunk2"), 200) })));
        node->route(QStringLiteral("/files/stat"), FakeKuboNode::held());
        PinContentsDialog* dialog = open(cid, QStringLiteral("movie.mkv"));
        dialog->setListingTimeout(300);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/files/stat")), 1);

        // The window's next refresh drops the lookup unanswered; the stalled walk shows the
        // links for now and asks again.
        client->cancelActiveLoading();
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog), QStringLiteral("2 file(s), 0 folder(s) — root type not known yet"));
        QTRY_COMPARE(node->requestCount(QStringLiteral("/files/stat")), 2);
        QTRY_COMPARE(node->heldCount(QStringLiteral("/files/stat")), 1);

        node->releaseHeld(QStringLiteral("/files/stat"), FakeKuboNode::json(R"({"Type":"file"})"));
        QTRY_COMPARE(status(dialog), QStringLiteral("1 file(s), 0 folder(s)"));
        QTreeWidgetItem* root = tree(dialog)->topLevelItem(0);
        QCOMPARE(root->childCount(), 1);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("movie.mkv"));
        QCOMPARE(root->child(0)->text(1), QStringLiteral("300"));
    }

    void failedListingDoesNotEndTheWalkEarly()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { folder(QStringLiteral("broken"), QStringLiteral("cbroken")),
                    folder(QStringLiteral("later"), QStringLiteral("clater")) })));
        lsAnswers.insert(
            QStringLiteral("cbroken"), FakeKuboNode::kuboError(QStringLiteral("merkledag: not found")));
        lsAnswers.insert(QStringLiteral("clater"), FakeKuboNode::held());
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(status(dialog).startsWith(QStringLiteral("Error: List failed for cbroken: ")));
        QTRY_COMPARE(node->heldCount(QStringLiteral("/ls")), 1);
        // The broken folder's empty answer came with its error; the walk must still wait.
        QVERIFY(!loaded(dialog));

        node->releaseHeld(QStringLiteral("/ls"),
            FakeKuboNode::json(
                listing(QStringLiteral("clater"), { file(QStringLiteral("x"), QStringLiteral("cx")) })));
        QTRY_VERIFY(loaded(dialog));
        QVERIFY2(status(dialog).startsWith(QStringLiteral("1 file(s), 2 folder(s) — incomplete: 1 folder(s) "
                                                          "could not be listed (List failed for cbroken: ")),
            qPrintable(status(dialog)));
    }

    void failedRootListing()
    {
        PinContentsDialog* dialog = open(QStringLiteral("missingroot"));
        QTRY_VERIFY(loaded(dialog));
        QVERIFY2(status(dialog).startsWith(
                     QStringLiteral("0 file(s), 0 folder(s) — incomplete: 1 folder(s) could not be listed")),
            qPrintable(status(dialog)));
        bool informed = false;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                informed = box->text() == QLatin1String("No files in this pin.")
                    && box->windowTitle() == QLatin1String("Save all files");
                box->accept();
            }
        });
        saveAll(dialog)->click();
        QVERIFY(informed);
    }

    void selfReferencingFolderEndsTheWalk()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(
                QStringLiteral("root"), { folder(QStringLiteral("loop"), QStringLiteral("cloop")) })));
        lsAnswers.insert(QStringLiteral("cloop"),
            FakeKuboNode::json(listing(QStringLiteral("cloop"),
                { folder(QStringLiteral("again"), QStringLiteral("cloop")),
                    folder(QStringLiteral("up"), QStringLiteral("root")) })));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(status(dialog), QStringLiteral("0 file(s), 3 folder(s)"));
        QCOMPARE(node->requestCount(QStringLiteral("/ls")), 2);
    }

    void foldersNamedOverAndOverStopTheWalk()
    {
        // Each level names the next folder three times: a few blocks, 3^depth entries.
        const QStringList levels { QStringLiteral("root"), QStringLiteral("c1"), QStringLiteral("c2"),
            QStringLiteral("c3"), QStringLiteral("c4"), QStringLiteral("c5") };
        for (int i = 0; i + 1 < levels.size(); ++i) {
            const QString next = levels.at(i + 1);
            lsAnswers.insert(levels.at(i),
                FakeKuboNode::json(listing(levels.at(i),
                    { folder(QStringLiteral("a"), next), folder(QStringLiteral("b"), next),
                        folder(QStringLiteral("c"), next) })));
        }
        lsAnswers.insert(QStringLiteral("c5"),
            FakeKuboNode::json(
                listing(QStringLiteral("c5"), { file(QStringLiteral("f"), QStringLiteral("cf")) })));
        auto* dialog = new PinContentsDialog(QStringLiteral("root"), client, nullptr);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setEntryLimit(50);
        dialog->show();
        QTRY_VERIFY(loaded(dialog));
        QCOMPARE(
            status(dialog), QStringLiteral("0 file(s), 50 folder(s) — incomplete: stopped after 50 entries"));
        // Only the folders that made it into the tree were listed.
        QVERIFY(node->requestCount(QStringLiteral("/ls")) <= 51);
    }

    void downloadThatFailsHalfWay()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { file(QStringLiteral("cut"), QStringLiteral("ccut")),
                    file(QStringLiteral("whole"), QStringLiteral("cwhole")) })));
        FakeKuboNode::Response cut = FakeKuboNode::text(QByteArray(4096, 'x'));
        cut.cutAfterBytes = 1000;
        catAnswers.insert(QStringLiteral("ccut"), cut);
        catAnswers.insert(QStringLiteral("cwhole"), FakeKuboNode::text("fine"));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        // A folder name that looks like a placeholder stays as it is in the summary.
        QTemporaryDir sandbox;
        const QString target = sandbox.filePath(QStringLiteral("x%4y"));
        QVERIFY(QDir().mkpath(target));
        saveAllInto(dialog, target);
        QVERIFY2(status(dialog).startsWith(QStringLiteral("Saved 1 of 2 file(s) to ") + target
                     + QStringLiteral("; 1 failed (last error: Failed to download cut: ")),
            qPrintable(status(dialog)));
        QCOMPARE(filesBelow(target), QStringList { QStringLiteral("whole") });
    }

    void folderThatCannotBeWritten()
    {
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { file(QStringLiteral("taken"), QStringLiteral("ctaken")),
                    folder(QStringLiteral("d"), QStringLiteral("cd")) })));
        lsAnswers.insert(QStringLiteral("cd"),
            FakeKuboNode::json(
                listing(QStringLiteral("cd"), { file(QStringLiteral("x"), QStringLiteral("cx")) })));
        catAnswers.insert(QStringLiteral("ctaken"), FakeKuboNode::text("T"));
        catAnswers.insert(QStringLiteral("cx"), FakeKuboNode::text("X"));
        PinContentsDialog* dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));

        // A folder where the file goes, and a file where the folder goes.
        QTemporaryDir target;
        QVERIFY(QDir(target.path()).mkdir(QStringLiteral("taken")));
        QFile blocker(target.filePath(QStringLiteral("d")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        saveAllInto(dialog, target.path());
        const QString canonical = QFileInfo(target.path()).canonicalFilePath();
        QCOMPARE(status(dialog),
            QStringLiteral("Failed to create directory: ") + canonical + QStringLiteral("/d"));
        QVERIFY(saveSelected(dialog)->isEnabled());
        QVERIFY(dialog->findChild<QProgressBar*>()->isHidden());
        QVERIFY(QFileInfo(target.filePath(QStringLiteral("taken"))).isDir());
        QCOMPARE(node->requestCount(QStringLiteral("/cat")), 1);
    }

    void closingWhileTheWriterRunsDropsTheResult()
    {
        const QByteArray big(32 * 1024 * 1024, 'z');
        lsAnswers.insert(QStringLiteral("root"),
            FakeKuboNode::json(listing(QStringLiteral("root"),
                { file(QStringLiteral("big"), QStringLiteral("cbig"), big.size()) })));
        catAnswers.insert(QStringLiteral("cbig"), FakeKuboNode::text(big));
        QPointer<PinContentsDialog> dialog = open(QStringLiteral("root"));
        QTRY_VERIFY(loaded(dialog));
        // Connected after the dialog's own slot, so the writer has just been started.
        connect(client, &IpfsClient::catReceived, this, [dialog] {
            if (dialog)
                dialog->close();
        });
        QTemporaryDir target;
        chooseFolderNext(target.path());
        saveAll(dialog)->click();
        QTRY_VERIFY(dialog.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(
            QFileInfo(target.filePath(QStringLiteral("big"))).size(), qint64(big.size()), 20000);
        QTest::qWait(100); // let the dropped result arrive
    }

    void nodeTextsAreShownAsText()
    {
        // No listing is routed for this root, so its error text names it too.
        PinContentsDialog* dialog = open(QStringLiteral("<img src=x>"));
        QTRY_VERIFY(loaded(dialog));
        QTextDocument heading;
        heading.setHtml(dialog->findChild<QLabel*>(QStringLiteral("headingLabel"))->text());
        QCOMPARE(heading.toPlainText(), QStringLiteral("Files under recursive pin: <img src=x>"));
        auto* statusLine = dialog->findChild<QLabel*>(QStringLiteral("statusLabel"));
        QVERIFY2(statusLine->text().contains(QStringLiteral("(List failed for <img src=x>: ")),
            qPrintable(statusLine->text()));
        QCOMPARE(statusLine->textFormat(), Qt::PlainText);
    }

    void twoDialogsKeepToTheirOwnAnswers()
    {
        lsAnswers.insert(QStringLiteral("r1"),
            FakeKuboNode::json(
                listing(QStringLiteral("r1"), { file(QStringLiteral("one"), QStringLiteral("c1")) })));
        lsAnswers.insert(QStringLiteral("r2"),
            FakeKuboNode::json(
                listing(QStringLiteral("r2"), { folder(QStringLiteral("two"), QStringLiteral("c2")) })));
        lsAnswers.insert(QStringLiteral("c2"), FakeKuboNode::json(listing(QStringLiteral("c2"), {})));
        PinContentsDialog* first = open(QStringLiteral("r1"));
        PinContentsDialog* second = open(QStringLiteral("r2"));
        QTRY_VERIFY(loaded(first) && loaded(second));
        QCOMPARE(status(first), QStringLiteral("1 file(s), 0 folder(s)"));
        QCOMPARE(status(second), QStringLiteral("0 file(s), 1 folder(s)"));
    }
};

QTEST_MAIN(TestPinContentsDialog)
#include "tst_pincontentsdialog.moc"
