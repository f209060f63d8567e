#include <QtTest>

#include "addtoipfsdialog.h"
#include "appsettings.h"
#include "cidtext.h"
#include "fakekubonode.h"
#include "fakepinstore.h"
#include "fakeremotepins.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "modaldialogdriver.h"
#include "testsettings.h"
#include "widgetlookup.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// The fake node's CID for an uploaded name: stable, distinct per name.
// The CIDv1 the add dialog's upload gets for a name.
QString fakeCid(const QString& name)
{
    return FakePinStore::nodeCid(name, 1);
}

// A node whose pins are what the add made: CIDv1, as the add dialog asks for them. Listings
// find it empty; a lookup of named CIDs lists them up to the first one that is no such pin.
FakeKuboNode::Response pinsTheAddMade(const FakeKuboNode::Request& request)
{
    const QStringList cids = request.queryValues(u"arg"_s);
    if (cids.isEmpty())
        return FakeKuboNode::json("");
    QList<QByteArray> lines;
    for (const QString& cid : cids) {
        if (decodeCid(cid).version != 1) {
            const QByteArray error = "path '" + cid.toUtf8() + "' is not pinned";
            return lines.isEmpty() ? FakeKuboNode::kuboError(QString::fromUtf8(error))
                                   : FakeKuboNode::streamFailure(lines, error);
        }
        lines.append("{\"Cid\":\"" + cid.toUtf8() + "\",\"Type\":\"recursive\"}\n");
    }
    return FakeKuboNode::streamed(lines);
}

// "/pin/rm" that removes what it is asked for, and says so as the node does.
FakeKuboNode::Response removesWhatItIsAsked(const FakeKuboNode::Request& request)
{
    const QStringList cids = request.queryValues(u"arg"_s);
    return FakeKuboNode::json(u"{\"Pins\":[\"%1\"]}\n"_s.arg(cids.join(u"\",\""_s)).toUtf8());
}

const QString kRootName = u"(wrapper)"_s;

QString filenameOf(const FakeKuboNode::MultipartPart& part)
{
    const QByteArray disposition = part.header("Content-Disposition");
    const int start = disposition.indexOf("filename=\"");
    if (start < 0)
        return {};
    const int from = start + int(qstrlen("filename=\""));
    return QString::fromUtf8(disposition.mid(from, disposition.lastIndexOf('"') - from));
}

QByteArray addLine(const QString& name, const QString& hash)
{
    QJsonObject object { { u"Name"_s, name }, { u"Hash"_s, hash }, { u"Size"_s, u"7"_s } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// What a node reports for an upload: one entry per part, in the order sent, then the wrapper.
QList<QByteArray> addLinesFor(const FakeKuboNode::Request& request)
{
    QList<QByteArray> lines;
    for (const FakeKuboNode::MultipartPart& part : request.parts) {
        const QString name = filenameOf(part);
        lines.append(addLine(name, fakeCid(name)));
    }
    if (request.queryValue(u"wrap-with-directory"_s) == u"true")
        lines.append(addLine(QString(), fakeCid(kRootName)));
    return lines;
}

// What a node answers when the pinning service does not accept connections.
QString unreachableService(const QString& method, const QString& url)
{
    return u"empty response from remote pinning service: %1 \"%2\": "
           "dial tcp 127.0.0.1:9: connect: connection refused"_s.arg(method, url);
}

struct AddChoice {
    QStringList paths;
    bool wrap = true;
    QString destination = u"local"_s;
    QString service;
    QString label;
    bool unpinLocal = false;
    std::function<void()> beforeAccept; // runs just before OK is pressed
};

// Fills the add dialog as a user would: picks the paths in its browser, sets the options, OK.
void fillAddDialog(AddToIpfsDialog* dialog, const AddChoice& choice)
{
    auto* view = dialog->findChild<QTreeView*>(u"browserView"_s);
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    for (const QString& path : choice.paths) {
        const QModelIndex index = model->index(path);
        QVERIFY2(index.isValid(), qPrintable(path));
        view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    childWithText<QPushButton>(dialog, u"Add selected"_s)->click();
    childWithText<QCheckBox>(dialog, u"Wrap with directory"_s)->setChecked(choice.wrap);
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        const int destination = combo->findData(choice.destination);
        if (!combo->isEditable() && destination >= 0)
            combo->setCurrentIndex(destination);
    }
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        if (combo->isEditable())
            combo->setEditText(choice.service);
    }
    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
        if (edit->placeholderText() == u"e.g. invoice-2026-03-17")
            edit->setText(choice.label);
    }
    childWithText<QCheckBox>(dialog, u"Unpin local after remote pin is confirmed"_s)
        ->setChecked(choice.unpinLocal);
    if (choice.beforeAccept)
        choice.beforeAccept();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

// Answers the next message box; the add progress dialog, window-modal as well, is let pass.
void answerBox(std::function<void(QMessageBox*)> action, QWidget* skip = nullptr)
{
    ModalDialogDriver::answerNext(
        [action](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                answerBox(action, modal);
                return;
            }
            action(box);
        },
        skip);
}

struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Records the box and presses the button with the given text, once the box shows what `ready`
// waits for (the box is updated while it is open) or 20 s have passed.
std::function<void(QMessageBox*)> recordAndPress(SeenBox* seen, const QString& buttonText,
    std::function<bool(const QMessageBox*)> ready = nullptr, QDeadlineTimer deadline = QDeadlineTimer(20000))
{
    return [seen, buttonText, ready, deadline](QMessageBox* box) {
        if (ready && !ready(box) && !deadline.hasExpired()) {
            // Looked at again on a later turn of the box's own event loop.
            answerBox(recordAndPress(seen, buttonText, ready, deadline));
            return;
        }
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        QAbstractButton* press = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            seen->buttons.append(button->text());
            if (button->text() == buttonText)
                press = button;
        }
        QVERIFY2(press, qPrintable(buttonText));
        press->click();
    };
}

// Drives the save dialog: types the path, or cancels when it is empty.
struct SaveChoice {
    QString path;
    QString nameFilter;
    bool seen = false;
    QString caption;
    QString proposed;
    QStringList filters;
};

void answerSaveDialog(SaveChoice* choice, QWidget* skip)
{
    ModalDialogDriver::answerNext(
        [choice](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            choice->seen = true;
            choice->caption = dialog->windowTitle();
            choice->proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            choice->filters = dialog->nameFilters();
            if (choice->path.isEmpty()) {
                dialog->reject();
                return;
            }
            if (!choice->nameFilter.isEmpty())
                dialog->selectNameFilter(choice->nameFilter);
            dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(choice->path);
            // Replacing a file asks first.
            ModalDialogDriver::answerNext(
                [](QWidget* question) {
                    if (auto* box = qobject_cast<QMessageBox*>(question))
                        box->button(QMessageBox::Yes)->click();
                },
                dialog, 1000);
            static_cast<QDialog*>(dialog)->accept();
        },
        skip);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The add flow of the main window against the fake node: dialog, upload, result box, CID export
// and the remote-pin follow-up.
class TestAddFlow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<FakeKuboNode> node;
    std::unique_ptr<MainWindow> window;

    QString file(const QString& name) const { return dir.filePath(name); }

    QPushButton* addButton() const { return window->findChild<QPushButton*>(u"actionBtn"_s); }
    QAction* addAction() const
    {
        for (QAction* action : window->findChildren<QAction*>()) {
            if (action->text() == u"Add to &IPFS\u2026")
                return action;
        }
        return nullptr;
    }
    QProgressDialog* progress() const { return window->findChild<QProgressDialog*>(); }
    QString notification() const { return window->findChild<QLabel*>(u"notification"_s)->text(); }
    QStringList statuses() const
    {
        QStringList messages;
        for (const QString& line : window->statusLog())
            messages.append(line.mid(21)); // after "yyyy-MM-dd hh:mm:ss  "
        return messages;
    }
    QString lastStatus() const { return statuses().value(statuses().size() - 1); }
    IpfsClient* client() const { return window->findChild<IpfsClient*>(); }
    int sentCount(const QString& command) const
    {
        int count = 0;
        for (const QString& line : window->rpcLog())
            count += line.contains(u"/api/v0"_s + command + u'?') ? 1 : 0;
        return count;
    }
    QStringList argsSent(const QString& command, const QString& item = u"arg"_s) const
    {
        QStringList args;
        for (const FakeKuboNode::Request& request : node->requests(command))
            args.append(request.queryValue(item));
        return args;
    }

    // Opens the add dialog through the tool bar, fills it, and answers the result box.
    void runAdd(const AddChoice& choice, SeenBox* result, const QString& resultButton = u"OK"_s,
        std::function<bool(const QMessageBox*)> ready = nullptr)
    {
        ModalDialogDriver::answerNext([choice, result, resultButton, ready](QWidget* modal) {
            auto* dialog = qobject_cast<AddToIpfsDialog*>(modal);
            QVERIFY(dialog);
            answerBox(recordAndPress(result, resultButton, ready), dialog);
            fillAddDialog(dialog, choice);
        });
        addButton()->click();
    }

    void verifyIdle() const
    {
        QVERIFY(addButton()->isEnabled());
        QVERIFY(addAction()->isEnabled());
        QVERIFY(!progress() || progress()->isHidden());
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QVERIFY(dir.isValid());
        for (const char* name :
            { "a.txt", "b.txt", "pinned.txt", "failed.txt", "stuck.txt", "refused.txt" }) {
            QFile f(file(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(name);
        }
    }

    void init()
    {
        appSettings().clear();
        node = std::make_unique<FakeKuboNode>();
        QVERIFY(node->start());
        // The window's own loads find an empty node.
        node->route(u"/pin/ls"_s, pinsTheAddMade);
        node->route(
            u"/id"_s, FakeKuboNode::json("{\"ID\":\"12D3KooWTest\",\"AgentVersion\":\"kubo/0.41.0\"}"));
        node->route(u"/version"_s, FakeKuboNode::json("{\"Version\":\"0.41.0\"}"));
        node->route(u"/pin/remote/service/ls"_s,
            FakeKuboNode::json(
                "{\"RemoteServices\":[{\"Service\":\"svc\",\"ApiEndpoint\":\"https://svc\"}]}"));
        node->route(u"/add"_s, [](const FakeKuboNode::Request& request) {
            return FakeKuboNode::streamed(addLinesFor(request));
        });
        appSettings().setValue(u"host"_s, node->host());
        appSettings().setValue(u"port"_s, int(node->port()));
        appSettings().sync();

        window = std::make_unique<MainWindow>();
        window->setRemotePinPollInterval(10);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
        node.reset();
    }

    void completesWithResultBox_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<QStringList>("cidNames"); // uploaded names whose CIDs the box offers
        QTest::addColumn<QString>("resultText");
        QTest::addColumn<QString>("notification");
        QTest::addColumn<QString>("status");

        const QString root = fakeCid(kRootName);
        QTest::newRow("wrapped: root first, the wrapper not repeated")
            << QStringList { u"a.txt"_s, u"b.txt"_s } << true
            << QStringList { kRootName, u"a.txt"_s, u"b.txt"_s }
            << u"Add operation completed successfully.\n\nRoot CID:\n"_s + root
            << u"Added to IPFS successfully. Root CID: "_s + root << u"Added to IPFS: "_s + root;
        QTest::newRow("two files unwrapped: no root")
            << QStringList { u"a.txt"_s, u"b.txt"_s } << false << QStringList { u"a.txt"_s, u"b.txt"_s }
            << u"Add operation completed successfully.\n\nReturned objects: 2"_s
            << u"Added 2 object(s) to IPFS."_s << u"Added 2 object(s) to IPFS"_s;
        QTest::newRow("one file unwrapped: the file is the root")
            << QStringList { u"a.txt"_s } << false << QStringList { u"a.txt"_s }
            << u"Add operation completed successfully.\n\nRoot CID:\n"_s + fakeCid(u"a.txt"_s)
            << u"Added to IPFS successfully. Root CID: "_s + fakeCid(u"a.txt"_s)
            << u"Added to IPFS: "_s + fakeCid(u"a.txt"_s);
    }

    void completesWithResultBox()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, wrap);
        QFETCH(QStringList, cidNames);
        QFETCH(QString, resultText);
        QFETCH(QString, notification);
        QFETCH(QString, status);

        AddChoice choice;
        for (const QString& name : std::as_const(files))
            choice.paths.append(file(name));
        choice.wrap = wrap;
        SeenBox result;
        runAdd(choice, &result, u"Copy CIDs"_s);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        QCOMPARE(result.title, u"Add to IPFS"_s);
        QCOMPARE(result.icon, QMessageBox::Information);
        QCOMPARE(result.text, resultText);
        QVERIFY(result.buttons.contains(u"Copy CIDs"_s));
        QVERIFY(result.buttons.contains(u"Export CIDs"_s));
        QVERIFY(result.buttons.contains(u"OK"_s));
        QCOMPARE(this->notification(), notification);
        QVERIFY(statuses().contains(status));
        QVERIFY(statuses().contains(u"Uploading %1 item(s) to IPFS\u2026"_s.arg(files.size())));
        verifyIdle();

        const QList<FakeKuboNode::Request> uploads = node->requests(u"/add"_s);
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads.first().queryValue(u"wrap-with-directory"_s), wrap ? u"true"_s : u"false"_s);
        QCOMPARE(uploads.first().parts.size(), files.size());

        QStringList cids;
        for (const QString& name : std::as_const(cidNames))
            cids.append(fakeCid(name));
        QCOMPARE(QGuiApplication::clipboard()->text(), cids.join(u'\n'));
        // The refresh that follows an add may already have written its own line.
        QTRY_VERIFY(statuses().contains(u"Copied %1 CID(s) to clipboard"_s.arg(cids.size())));
        QCOMPARE(node->requestCount(u"/pin/remote/add"_s), 0);
    }

    // A node that reports thousands of entries in one read: each is reported and listed, in order,
    // and the upload ends only after the last of them.
    void manyEntriesAtOnce()
    {
        constexpr int count = 5000;
        QList<QByteArray> lines;
        QStringList cids;
        for (int i = 0; i < count; ++i) {
            cids << fakeCid(u"entry%1"_s.arg(i));
            lines << addLine(u"entry%1"_s.arg(i), cids.last());
        }
        node->route(u"/add"_s, FakeKuboNode::json(lines.join()));
        QSignalSpy progress(client(), &IpfsClient::addProgress);
        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s) };
        choice.wrap = false;
        SeenBox result;
        runAdd(choice, &result, u"Copy CIDs"_s);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        QCOMPARE(result.text, u"Add operation completed successfully.\n\nReturned objects: %1"_s.arg(count));
        QCOMPARE(QGuiApplication::clipboard()->text(), cids.join(u'\n'));
        QCOMPARE(progress.size(), count);
        QCOMPARE(progress.last().at(1).toInt(), count);
        const QStringList seen = statuses();
        const qsizetype last = seen.indexOf(u"Adding to IPFS: %1/1 \u2014 entry%2"_s.arg(count).arg(count - 1));
        QVERIFY(last >= 0);
        QVERIFY(seen.indexOf(u"Added %1 object(s) to IPFS"_s.arg(count)) > last);
        verifyIdle();
    }

    void refreshFollowsInPinnedModeOnly_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("pinned") << u"pinned"_s;
        QTest::newRow("unpinned") << u"unpinned"_s;
    }

    void refreshFollowsInPinnedModeOnly()
    {
        QFETCH(QString, mode);
        node->route(u"/refs/local"_s, FakeKuboNode::json(""));
        window.reset();
        appSettings().setValue(u"contentMode"_s, mode);
        appSettings().sync();
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const auto loads = [this] { return sentCount(u"/pin/ls"_s) + sentCount(u"/refs/local"_s); };
        QTRY_VERIFY(loads() > 0); // the first refresh
        QTRY_VERIFY(window->findChild<QPushButton*>(u"refreshBtn"_s)->isEnabled()); // and its end
        const int before = loads();

        // The refresh is asked for before the result box opens.
        int whileBoxOpen = -1;
        ModalDialogDriver::answerNext([&](QWidget* modal) {
            auto* dialog = qobject_cast<AddToIpfsDialog*>(modal);
            QVERIFY(dialog);
            answerBox(
                [&](QMessageBox* box) {
                    whileBoxOpen = loads();
                    box->button(QMessageBox::Ok)->click();
                },
                dialog);
            AddChoice choice;
            choice.paths = QStringList { file(u"a.txt"_s) };
            fillAddDialog(dialog, choice);
        });
        addButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(whileBoxOpen >= 0, 20000);
        QCOMPARE(whileBoxOpen > before, mode == u"pinned");
    }

    void showsProgressAndKeepsASecondAddOut()
    {
        // Entries trickle in; the reply stays open a while after the wrapper's entry.
        node->route(u"/add"_s, [](const FakeKuboNode::Request& request) {
            FakeKuboNode::Response response = FakeKuboNode::streamed({});
            const QList<QByteArray> lines = addLinesFor(request);
            for (int i = 0; i < lines.size(); ++i)
                response.chunks.append({ lines.at(i), i == 0 ? 1500 : 20 });
            response.chunks.append({ "\n", 1500 });
            return response;
        });
        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s), file(u"b.txt"_s) };
        SeenBox result;
        runAdd(choice, &result);

        QTRY_VERIFY(progress() && progress()->isVisible());
        QCOMPARE(progress()->windowTitle(), u"Add to IPFS"_s);
        QCOMPARE(progress()->labelText(), u"Preparing upload\u2026"_s);
        QCOMPARE(progress()->maximum(), 0);
        QVERIFY(!addButton()->isEnabled());
        QVERIFY(!addAction()->isEnabled());

        // A second add is refused while the first runs (the disabled button and menu item keep
        // the user out; the slot refuses on its own too); no dialog opens.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onAddToIpfsClicked"));
        QCOMPARE(lastStatus(), u"Add is already in progress\u2026"_s);
        QVERIFY(!qobject_cast<AddToIpfsDialog*>(QApplication::activeModalWidget()));

        // The wrapper counts as an entry: three entries for two files, the value stops at two.
        QTRY_COMPARE(progress()->labelText(), u"Uploading 2 of 2\n(wrapped root)"_s);
        QCOMPARE(progress()->maximum(), 2);
        QCOMPARE(progress()->value(), 2);
        const QStringList seen = statuses();
        QVERIFY(seen.contains(u"Adding to IPFS: 1/2 \u2014 a.txt"_s));
        QVERIFY(seen.contains(u"Adding to IPFS: 2/2 \u2014 b.txt"_s));
        QVERIFY(seen.contains(u"Adding to IPFS: 3/2 \u2014 (wrapped root)"_s));

        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);
        verifyIdle();
        // The dialog is reused for the next add.
        SeenBox second;
        runAdd(choice, &second);
        QTRY_VERIFY_WITH_TIMEOUT(second.seen, 20000);
        QCOMPARE(window->findChildren<QProgressDialog*>().size(), 1);
        verifyIdle();
    }

    void emptyFolderUploadsWithoutAFileCount()
    {
        // Folder parts only: no file total to count against, so the progress stays a busy bar.
        QVERIFY(QDir().mkpath(file(u"empty"_s)));
        AddChoice choice;
        choice.paths = QStringList { file(u"empty"_s) };
        SeenBox result;
        runAdd(choice, &result);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        QCOMPARE(node->requests(u"/add"_s).first().parts.size(), 1);
        QVERIFY(statuses().contains(u"Adding to IPFS: empty"_s));
        QVERIFY(statuses().contains(u"Adding to IPFS: (wrapped root)"_s));
        QCOMPARE(progress()->maximum(), 0);
        QCOMPARE(progress()->labelText(), u"Uploading\n(wrapped root)"_s);
        QCOMPARE(result.text, u"Add operation completed successfully.\n\nRoot CID:\n"_s + fakeCid(kRootName));
        verifyIdle();
    }

    void failureRestoresTheControls_data()
    {
        QTest::addColumn<QString>("answer"); // "refused", "stream error", "dropped", "unreadable"
        QTest::addColumn<QString>("message"); // expected start of the message

        QTest::newRow("node refuses") << u"refused"_s << u"Add failed: "_s;
        QTest::newRow("error line in the stream") << u"stream error"_s << u"Add failed: disk full"_s;
        QTest::newRow("connection dropped during a large upload") << u"dropped"_s << u"Add failed: "_s;
        QTest::newRow("nothing readable, failed inside the call")
            << u"unreadable"_s << u"No readable files or folders found in the selected input."_s;
    }

    void failureRestoresTheControls()
    {
        QFETCH(QString, answer);
        QFETCH(QString, message);

        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s) };
        if (answer == u"refused") {
            node->route(u"/add"_s, FakeKuboNode::kuboError(u"no space"_s));
        } else if (answer == u"dropped") {
            const QString big = file(u"big.bin"_s);
            QFile f(big);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(QByteArray(8 * 1024 * 1024, 'b')) == 8 * 1024 * 1024);
            f.close();
            choice.paths = QStringList { big };
            node->setRequestByteLimit(512 * 1024);
        } else if (answer == u"stream error") {
            node->route(u"/add"_s, FakeKuboNode::streamFailure({ addLine(u"a.txt"_s, fakeCid(u"a.txt"_s)) }, "disk full"));
        } else {
#ifdef Q_OS_UNIX
            // A pipe is neither file nor folder: the upload has nothing to send.
            const QString pipe = file(u"pipe"_s);
            QFile::remove(pipe);
            QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
            choice.paths = QStringList { pipe };
#else
            QSKIP("needs a named pipe");
#endif
        }

        SeenBox failure;
        runAdd(choice, &failure);
        QTRY_VERIFY_WITH_TIMEOUT(failure.seen, 20000);
        QCOMPARE(failure.title, u"Add to IPFS failed"_s);
        QCOMPARE(failure.icon, QMessageBox::Critical);
        QVERIFY2(failure.text.startsWith(message), qPrintable(failure.text));
        QCOMPARE(notification(), u"\u26A0  "_s + failure.text);
        QVERIFY(statuses().contains(u"Error: "_s + failure.text));
        verifyIdle();
        // The progress dialog does not come back on its own after a failure inside the call.
        QTest::qWait(100);
        verifyIdle();
        // Logged in every case, before the body is built; a dropped upload never reached the
        // node whole.
        QCOMPARE(sentCount(u"/add"_s), 1);
        QCOMPARE(node->requestCount(u"/add"_s), answer == u"unreadable" || answer == u"dropped" ? 0 : 1);
    }

    void vanishedSelectionStartsNothing()
    {
        const QString doomed = file(u"doomed.txt"_s);
        {
            QFile f(doomed);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        AddChoice choice;
        choice.paths = QStringList { doomed };
        choice.beforeAccept = [doomed] { QFile::remove(doomed); };
        ModalDialogDriver::answerNext([choice](QWidget* modal) {
            auto* dialog = qobject_cast<AddToIpfsDialog*>(modal);
            QVERIFY(dialog);
            fillAddDialog(dialog, choice);
        });
        addButton()->click();

        QCOMPARE(notification(), u"\u26A0  No valid files/folders were selected."_s);
        QCOMPARE(node->requestCount(u"/add"_s), 0);
        verifyIdle();
    }

    void exportsTheCids_data()
    {
        QTest::addColumn<QString>("target"); // relative to the temporary folder; empty: cancel
        QTest::addColumn<QString>("nameFilter");
        QTest::addColumn<QByteArray>("before"); // existing content, or empty
        QTest::addColumn<bool>("written");

        QTest::newRow("new file") << u"out/cids.txt"_s << QString() << QByteArray() << true;
        QTest::newRow("existing file replaced")
            << u"out/old.txt"_s << QString() << QByteArray("stale line 1\nstale line 2\nstale line 3\n")
            << true;
        QTest::newRow("csv, same content")
            << u"out/cids.csv"_s << u"CSV files (*.csv)"_s << QByteArray() << true;
        QTest::newRow("folder missing") << u"missing/cids.txt"_s << QString() << QByteArray() << false;
        QTest::newRow("cancelled") << QString() << QString() << QByteArray() << false;
    }

    void exportsTheCids()
    {
        QFETCH(QString, target);
        QFETCH(QString, nameFilter);
        QFETCH(QByteArray, before);
        QFETCH(bool, written);

        QVERIFY(QDir().mkpath(file(u"out"_s)));
        const QString path = target.isEmpty() ? QString() : file(target);
        if (!before.isEmpty()) {
            QFile existing(path);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write(before);
        }

        SaveChoice save;
        save.path = path;
        save.nameFilter = nameFilter;
        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s), file(u"b.txt"_s) };
        SeenBox result;
        ModalDialogDriver::answerNext([&](QWidget* modal) {
            auto* dialog = qobject_cast<AddToIpfsDialog*>(modal);
            QVERIFY(dialog);
            answerBox(
                [&save](QMessageBox* box) {
                    answerSaveDialog(&save, box);
                    for (QAbstractButton* button : box->buttons()) {
                        if (button->text() == u"Export CIDs")
                            button->click();
                    }
                },
                dialog);
            fillAddDialog(dialog, choice);
        });
        addButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(save.seen, 20000);
        QCOMPARE(save.caption, u"Export CIDs"_s);
        QCOMPARE(save.proposed, u"cids.txt"_s);
        QCOMPARE(save.filters,
            QStringList({ u"Text files (*.txt)"_s, u"CSV files (*.csv)"_s, u"All files (*)"_s }));

        const QByteArray expected
            = (QStringList { fakeCid(kRootName), fakeCid(u"a.txt"_s), fakeCid(u"b.txt"_s) }.join(u'\n')
                + u'\n')
                  .toUtf8();
        if (written) {
            QTRY_VERIFY(statuses().contains(u"Exported 3 CID(s) to %1"_s.arg(path)));
            QCOMPARE(readFile(path), expected);
        } else if (!path.isEmpty()) {
            QTRY_VERIFY(notification().startsWith(u"\u26A0  Failed to write file: "_s));
            QVERIFY(!QFile::exists(path));
            QVERIFY(!lastStatus().startsWith(u"Exported"_s));
        } else {
            QTRY_VERIFY(!QApplication::activeModalWidget());
            QVERIFY(!lastStatus().startsWith(u"Exported"_s));
        }
    }

    // Status requests asked for each added CID: the "cid" items of every request, in order.
    QStringList statusCidsAsked() const
    {
        QStringList cids;
        for (const FakeKuboNode::Request& request : node->requests(u"/pin/remote/ls"_s))
            cids += request.queryValues(u"cid"_s);
        return cids;
    }
    QTimer* pollTimer() const { return window->findChild<QTimer*>(u"remotePinPollTimer"_s); }

    // Four CIDs, one outcome each: pinned after a failed status check and a "queued", reported
    // failed, never leaving "queued" (timed out after the 120th poll), refused by the service.
    void remotePinFollowUp()
    {
        const QString pinned = fakeCid(u"pinned.txt"_s);
        const QString failed = fakeCid(u"failed.txt"_s);
        const QString stuck = fakeCid(u"stuck.txt"_s);
        const QString refused = fakeCid(u"refused.txt"_s);
        node->route(u"/pin/remote/add"_s, [refused](const FakeKuboNode::Request& request) {
            return request.queryValue(u"arg"_s) == refused ? FakeKuboNode::kuboError(u"quota exceeded"_s)
                                                           : FakeKuboNode::json("{}");
        });
        auto service = std::make_shared<FakeRemotePins>(u"svc"_s);
        service->set(failed, u"failed"_s);
        service->set(stuck, u"queued"_s);
        auto polls = std::make_shared<int>(0);
        node->route(u"/pin/remote/ls"_s, [service, polls, pinned](const FakeKuboNode::Request& request) {
            const int poll = ++*polls;
            if (poll == 1)
                return FakeKuboNode::kuboError(u"service busy"_s);
            service->set(pinned, poll == 2 ? u"queued"_s : u"pinned"_s);
            return service->answer(request);
        });
        node->route(u"/cid/format"_s, [](const FakeKuboNode::Request& request) {
            const QJsonObject body { { u"Formatted"_s, u"v0:"_s + request.queryValue(u"arg"_s) } };
            return FakeKuboNode::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
        });
        node->route(u"/pin/rm"_s, removesWhatItIsAsked);
        QSignalSpy statusAnswers(client(), &IpfsClient::remotePinStatusReceived);
        QSignalSpy statusFailures(client(), &IpfsClient::remotePinStatusFailed);

        AddChoice choice;
        for (const char* name : { "pinned.txt", "failed.txt", "stuck.txt", "refused.txt" })
            choice.paths.append(file(QString::fromLatin1(name)));
        choice.wrap = false;
        choice.destination = u"remote"_s;
        choice.service = u"svc"_s;
        choice.label = u" invoices "_s;
        choice.unpinLocal = true;
        SeenBox result;
        runAdd(choice, &result); // closed at once: the flow goes on without it
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        const QString summary = u"Remote pin complete on 'svc': 1 pinned, 3 failed."_s;
        QTRY_VERIFY_WITH_TIMEOUT(statuses().contains(summary), 60000);
        // The summary's banner gives way to the local unpin's once the node has answered it.
        QTRY_COMPARE(notification(), u"Unpinned 1 CID(s). Refreshing list\u2026"_s);

        // Every added CID queued once, in the background, with the trimmed label.
        const QList<FakeKuboNode::Request> queued = node->requests(u"/pin/remote/add"_s);
        QCOMPARE(queued.size(), 4);
        QSet<QString> queuedCids;
        for (const FakeKuboNode::Request& request : queued) {
            queuedCids.insert(request.queryValue(u"arg"_s));
            QCOMPARE(request.queryValue(u"service"_s), u"svc"_s);
            QCOMPARE(request.queryValue(u"name"_s), u"invoices"_s);
            QCOMPARE(request.queryValue(u"background"_s), u"true"_s);
        }
        QCOMPARE(queuedCids, QSet<QString>({ pinned, failed, stuck, refused }));
        QVERIFY(statuses().contains(u"Remote pin queued for %1 via service 'svc'."_s.arg(stuck)));

        // Each failure is named with its reason in the status log.
        const QStringList reasons = statuses().filter(u"Remote pin failed for "_s);
        QCOMPARE(reasons.size(), 3);
        const QString refusal = reasons.filter(u"Remote pin failed for %1: "_s.arg(refused)).value(0);
        QVERIFY2(refusal.contains(u"quota exceeded"_s), qPrintable(reasons.join(u'\n')));
        QVERIFY(reasons.contains(
            u"Remote pin failed for %1: the service reports it as failed."_s.arg(failed)));
        QVERIFY(reasons.contains(u"Remote pin failed for %1: no final status after 120 polls "
                                 "(last answer: queued)."_s.arg(stuck)));

        // Only the confirmed CID loses its local pin, as the node holds it.
        QTRY_COMPARE(node->requestCount(u"/pin/rm"_s), 1);
        QCOMPARE(argsSent(u"/pin/rm"_s), QStringList { pinned });
        QCOMPARE(sentCount(u"/cid/format"_s), 0);

        // One request per poll, asking for every status; the CID that stays queued is asked at
        // every poll, 120 times, and no more.
        const QList<FakeKuboNode::Request> polled = node->requests(u"/pin/remote/ls"_s);
        QCOMPARE(polled.size(), 120);
        for (const FakeKuboNode::Request& request : polled)
            QCOMPARE(request.queryValues(u"status"_s),
                (QStringList { u"queued"_s, u"pinning"_s, u"pinned"_s, u"failed"_s }));
        QCOMPARE(statusCidsAsked().count(stuck), 120);
        QCOMPARE(statusCidsAsked().count(pinned), 3);
        QCOMPARE(statusCidsAsked().count(failed), 2);

        // Nothing is asked after the end, and every answer came before it.
        QVERIFY(!pollTimer()->isActive());
        QCOMPARE(int(statusAnswers.size() + statusFailures.size()), int(statusCidsAsked().size()));
        QCOMPARE(sentCount(u"/pin/remote/ls"_s), 120);
        QStringList remoteStatuses = statuses().filter(QRegularExpression(u"^Remote pin"_s));
        QCOMPARE(remoteStatuses.last(), summary);
    }

    // A service slower than the poll period is asked again only once it has answered.
    void slowServiceIsNotAskedTwice()
    {
        node->route(u"/pin/remote/add"_s, FakeKuboNode::json("{}"));
        node->route(u"/pin/remote/ls"_s, FakeKuboNode::held());
        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s) };
        choice.wrap = false;
        choice.destination = u"remote"_s;
        choice.service = u"svc"_s;
        SeenBox result;
        runAdd(choice, &result);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        QTRY_COMPARE(node->heldCount(u"/pin/remote/ls"_s), 1);
        QSignalSpy ticks(pollTimer(), &QTimer::timeout);
        QTRY_VERIFY(ticks.size() >= 5);
        QCOMPARE(sentCount(u"/pin/remote/ls"_s), 1);

        FakeRemotePins service(u"svc"_s);
        service.set(fakeCid(u"a.txt"_s), u"pinned"_s);
        node->releaseHeld(u"/pin/remote/ls"_s, service.answer(node->heldRequests().first()));
        QTRY_VERIFY(statuses().contains(u"Remote pin complete on 'svc': 1 pinned, 0 failed."_s));
        QCOMPARE(sentCount(u"/pin/remote/ls"_s), 1);
    }

    // The node's reason for each failed remote pin is in the result box, which no longer calls
    // the add a success, and in the status log.
    void failedRemotePinSaysWhy_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("reason"); // after "Remote pin failed for <root>: "

        QTest::newRow("service cannot be reached")
            << false << unreachableService(u"Post"_s, u"http://127.0.0.1:9/psa/pins"_s);
        QTest::newRow("service holds the pin as failed") << true << u"the service reports it as failed."_s;
    }

    void failedRemotePinSaysWhy()
    {
        QFETCH(bool, reachable);
        QFETCH(QString, reason);

        const QString root = fakeCid(kRootName);
        FakeRemotePins service(u"svc"_s);
        service.set(root, u"failed"_s);
        if (reachable) {
            node->route(u"/pin/remote/add"_s, FakeKuboNode::json("{}"));
            node->route(u"/pin/remote/ls"_s,
                [service](const FakeKuboNode::Request& request) { return service.answer(request); });
        } else {
            node->route(u"/pin/remote/add"_s,
                FakeKuboNode::kuboError(unreachableService(u"Post"_s, u"http://127.0.0.1:9/psa/pins"_s)));
            const QString listing = u"http://127.0.0.1:9/psa/pins?cid=%1&limit=10&"
                                    "status=queued,pinning,pinned,failed"_s.arg(root);
            node->route(u"/pin/remote/ls"_s, FakeKuboNode::kuboError(unreachableService(u"Get"_s, listing)));
        }

        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s), file(u"b.txt"_s) };
        choice.destination = u"both"_s;
        choice.service = u"svc"_s;
        SeenBox result;
        const QString failure = u"Remote pin failed for %1: %2"_s.arg(root, reason);
        runAdd(choice, &result, u"OK"_s,
            [failure](const QMessageBox* box) { return box->text().contains(failure); });
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);

        QCOMPARE(result.text,
            u"Added to IPFS, but remote pinning failed for 1 of 1 CID(s).\n\nRoot CID:\n%1\n\n"
            "Remote pinning on 'svc': 0 pinned, 0 pending, 1 failed.\n%2"_s.arg(root, failure));
        QCOMPARE(result.icon, QMessageBox::Warning);
        QVERIFY2(statuses().contains(failure), qPrintable(statuses().join(u'\n')));
        QVERIFY(statuses().contains(u"Remote pin complete on 'svc': 0 pinned, 1 failed."_s));
        if (reachable)
            QCOMPARE(node->requestCount(u"/pin/remote/ls"_s), 1); // known at the first poll
    }

    void remotePinOfTheRoot_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("unpinLocal");

        QTest::newRow("local and remote") << u"both"_s << false;
        QTest::newRow("local and remote, then unpin locally") << u"both"_s << true;
        QTest::newRow("remote only") << u"remote"_s << true;
    }

    void remotePinOfTheRoot()
    {
        QFETCH(QString, destination);
        QFETCH(bool, unpinLocal);

        node->route(u"/pin/remote/add"_s, FakeKuboNode::json(""));
        FakeRemotePins service(u"svc"_s);
        service.set(fakeCid(kRootName), u"pinned"_s);
        node->route(u"/pin/remote/ls"_s,
            [service](const FakeKuboNode::Request& request) { return service.answer(request); });
        node->route(u"/cid/format"_s, FakeKuboNode::kuboError(u"not a v0 CID"_s));
        node->route(u"/pin/rm"_s, removesWhatItIsAsked);

        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s), file(u"b.txt"_s) };
        choice.destination = destination;
        choice.service = u"svc"_s;
        choice.unpinLocal = unpinLocal;
        SeenBox result;
        runAdd(choice, &result);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            statuses().contains(u"Remote pin complete on 'svc': 1 pinned, 0 failed."_s), 20000);
        QTRY_COMPARE(notification(),
            unpinLocal ? u"Unpinned 1 CID(s). Refreshing list\u2026"_s
                       : u"Remote pin flow finished: 1 pinned, 0 failed."_s);
        QVERIFY(statuses().contains(u"Remote pin status (svc): 1 pinned, 0 pending, 0 failed."_s));

        // Wrapped: the root alone goes to the service.
        const QString root = fakeCid(kRootName);
        QCOMPARE(argsSent(u"/pin/remote/add"_s), QStringList { root });
        QCOMPARE(node->requests(u"/add"_s).first().queryValue(u"pin"_s), u"true"_s);
        if (unpinLocal) {
            QTRY_COMPARE(argsSent(u"/pin/rm"_s), QStringList { root });
        } else {
            QCOMPARE(sentCount(u"/cid/format"_s) + sentCount(u"/pin/rm"_s), 0);
        }
    }

    void remotePinSkippedWithoutCid()
    {
        node->route(u"/add"_s, FakeKuboNode::streamed({ "\n" }));
        AddChoice choice;
        choice.paths = QStringList { file(u"a.txt"_s) };
        choice.destination = u"remote"_s;
        choice.service = u"svc"_s;
        SeenBox result;
        runAdd(choice, &result);
        QTRY_VERIFY_WITH_TIMEOUT(result.seen, 20000);
        QCOMPARE(result.text, u"Add operation completed successfully.\n\nReturned objects: 0"_s);
        QCOMPARE(result.buttons, QStringList { u"OK"_s }); // nothing to copy or export
        QCOMPARE(notification(), u"\u26A0  Remote pin skipped: no CID returned from add."_s);
        QCOMPARE(node->requestCount(u"/pin/remote/add"_s), 0);
    }
};

QTEST_MAIN(TestAddFlow)
#include "tst_addflow.moc"
