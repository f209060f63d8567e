#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <functional>
#include <memory>

#include "addtoipfsdialog.h"
#include "appsettings.h"
#include "configdialog.h"
#include "dhtstatsdialog.h"
#include "fakekubonode.h"
#include "gcdialog.h"
#include "indirectpinsdialog.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "mainwindowfixture.h"
#include "modaldialogdriver.h"
#include "networkfixtures.h"
#include "networkstatsdialog.h"
#include "pincontentsdialog.h"
#include "pinmodel.h"
#include "remoteservicesdialog.h"
#include "swarmdialog.h"
#include "testsettings.h"
#include "widgetlookup.h"

using namespace Qt::StringLiterals;

namespace {

// What goes wrong between the window and the node.
enum class Fault {
    Refused, // nothing listens on the port
    NeverAnswers, // the node accepts the request and sends nothing
    Forbidden, // 403 with a plain-text body
    ServerError, // 500 with the node's JSON error body
    CutMidLine, // the reply stops in the middle of its first line and the connection closes
    HugeLine, // a body of 10 MB in one line, without a line feed
    InvalidUtf8, // the first line carries bytes that are not UTF-8
    ClosedFirst, // the answer arrives after the window was closed
};

// The main road and one operation of each window.
enum class Target {
    MainRoad, // a refresh of the pin table
    ConfigEditor, // loading the config
    RemoteServices, // listing the services
    RepoGc, // a garbage collection
    NetworkStats, // a refresh, with the bitswap endpoint at fault
    Swarm, // a refresh, with the peers request at fault
    DhtStats, // loading both DHTs
    AddFlow, // an upload
    PinContents, // the walk of a pin's tree
    IndirectPins, // listing a pin's refs
    Ipns, // resolving a name
};

constexpr int kHugeLineBytes = 10 * 1024 * 1024;
// A hanging request ends after this in these tests; the application waits much longer.
constexpr int kTestTransferTimeoutMs = 500;
constexpr int kHealthyTransferTimeoutMs = 60000;
const QString kIndirectRoot = u"bafyindirectroot"_s;
const QString kContentsRoot = u"bafyrecA"_s;

QByteArray bodyOf(const FakeKuboNode::Response& response)
{
    QByteArray body;
    for (const FakeKuboNode::Chunk& chunk : response.chunks)
        body += chunk.data;
    return body;
}

FakeKuboNode::Response withBody(FakeKuboNode::Response response, const QByteArray& body)
{
    response.chunks = { { body, 0 } };
    return response;
}

QByteArray firstLine(const QByteArray& body)
{
    const qsizetype end = body.indexOf('\n');
    return end < 0 ? body : body.left(end);
}

// Where the string value of `key` begins inside the first line; -1 when the line has none.
qsizetype stringValueStart(const QByteArray& line, const QByteArray& key)
{
    const QByteArray marker = '"' + key + "\":\"";
    const qsizetype at = line.indexOf(marker);
    return at < 0 ? -1 : at + marker.size();
}

// The first line alone, its value of `key` grown so that the whole body is 10 MB.
QByteArray hugeLine(const QByteArray& body, const QByteArray& key)
{
    QByteArray line = firstLine(body);
    const qsizetype at = stringValueStart(line, key);
    if (at < 0)
        qFatal("no string member %s in %s", key.constData(), line.constData());
    return line.insert(at, QByteArray(kHugeLineBytes - line.size(), 'x'));
}

// The body with two bytes that are never UTF-8 at the start of the first value of `key`.
QByteArray withInvalidUtf8(QByteArray body, const QByteArray& key)
{
    const qsizetype at = stringValueStart(firstLine(body), key);
    if (at < 0)
        qFatal("no string member %s in %s", key.constData(), body.constData());
    return body.insert(at, "\xff\xfe");
}

// The healthy answer, streamed and cut in the middle of its first line.
FakeKuboNode::Response cutMidLine(FakeKuboNode::Response response)
{
    response.chunkedEncoding = true;
    response.cutAfterBytes = int(qMax<qsizetype>(1, firstLine(bodyOf(response)).size() / 2));
    return response;
}

QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// A node in good health: every command the windows use answers as a real node does.
QHash<QString, FakeKuboNode::Handler> healthyRoutes()
{
    QHash<QString, FakeKuboNode::Handler> routes;
    const auto fixed = [](const FakeKuboNode::Response& response) {
        return [response](const FakeKuboNode::Request&) { return response; };
    };
    routes.insert(u"/pin/ls"_s, [](const FakeKuboNode::Request& request) {
        QByteArray body;
        if (request.queryValue(u"type"_s) == u"recursive") {
            body += jsonLine(
                { { u"Cid"_s, u"bafyrecA"_s }, { u"Name"_s, u"photos"_s }, { u"Type"_s, u"recursive"_s } });
            body += jsonLine(
                { { u"Cid"_s, u"bafyrecB"_s }, { u"Name"_s, u"site"_s }, { u"Type"_s, u"recursive"_s } });
        } else {
            body += jsonLine(
                { { u"Cid"_s, u"bafydirC"_s }, { u"Name"_s, u"notes"_s }, { u"Type"_s, u"direct"_s } });
        }
        return FakeKuboNode::streamed({ body });
    });
    routes.insert(
        u"/id"_s, fixed(FakeKuboNode::json(R"({"ID":"12D3KooWtest","AgentVersion":"kubo/0.41.0"})")));
    routes.insert(u"/refs"_s,
        fixed(FakeKuboNode::streamed(
            { "{\"Ref\":\"bafychild1\",\"Err\":\"\"}\n{\"Ref\":\"bafychild2\",\"Err\":\"\"}\n" })));
    routes.insert(u"/dag/stat"_s, fixed(FakeKuboNode::json(R"({"TotalSize":1234})")));
    routes.insert(u"/files/stat"_s, fixed(FakeKuboNode::json(R"({"Type":"directory"})")));
    routes.insert(u"/config/show"_s,
        fixed(FakeKuboNode::json(R"({"API":{"HTTPHeaders":{}},"Addresses":{"API":"/ip4/127.0.0.1/tcp/5001"},)"
                                 R"("Identity":{"PeerID":"12D3KooWtest"}})")));
    routes.insert(u"/pin/remote/service/ls"_s,
        fixed(FakeKuboNode::json(
            R"({"RemoteServices":[{"Service":"pinata","ApiEndpoint":"https://api.example"}]})")));
    routes.insert(u"/repo/stat"_s,
        fixed(FakeKuboNode::json(
            R"({"RepoSize":1536,"StorageMax":2048,"NumObjects":3,"RepoPath":"/repo","Version":"fs-repo@15"})")));
    routes.insert(u"/repo/gc"_s,
        fixed(FakeKuboNode::streamed({ "{\"Key\":{\"/\":\"bafygc1\"}}\n{\"Key\":{\"/\":\"bafygc2\"}}\n" })));
    routes.insert(u"/swarm/peers"_s,
        fixed(FakeKuboNode::json(NetworkFixtures::toJson(NetworkFixtures::swarmPeersReply(2)))));
    routes.insert(u"/swarm/addrs"_s,
        fixed(FakeKuboNode::json(NetworkFixtures::toJson(NetworkFixtures::swarmAddrsReply(2, 1)))));
    routes.insert(u"/swarm/addrs/listen"_s,
        fixed(FakeKuboNode::json(
            NetworkFixtures::toJson(NetworkFixtures::stringsReply({ u"/ip4/0.0.0.0/tcp/4001"_s })))));
    routes.insert(u"/bootstrap/list"_s,
        fixed(FakeKuboNode::json(NetworkFixtures::toJson(
            NetworkFixtures::bootstrapReply({ u"/dnsaddr/bootstrap.libp2p.io/p2p/QmNnoo"_s })))));
    routes.insert(u"/stats/dht"_s, fixed(FakeKuboNode::streamed({ NetworkFixtures::dhtLinesBody(2, 2, 2) })));
    routes.insert(u"/bitswap/stat"_s,
        fixed(FakeKuboNode::json(NetworkFixtures::toJson(NetworkFixtures::bitswapReply(2, 3)))));
    routes.insert(u"/add"_s,
        fixed(FakeKuboNode::streamed({ "{\"Name\":\"file.txt\",\"Hash\":\"bafkfile\",\"Size\":\"7\"}\n"
                                       "{\"Name\":\"\",\"Hash\":\"bafywrap\",\"Size\":\"60\"}\n" })));
    routes.insert(u"/ls"_s,
        fixed(FakeKuboNode::json(R"({"Objects":[{"Hash":"bafyrecA","Links":[)"
                                 R"({"Name":"a.txt","Hash":"bafka","Size":5,"Type":2},)"
                                 R"({"Name":"b.txt","Hash":"bafkb","Size":6,"Type":2}]}]})")));
    routes.insert(u"/key/list"_s, fixed(FakeKuboNode::json(R"({"Keys":[{"Name":"self","Id":"k51self"}]})")));
    routes.insert(u"/name/resolve"_s, fixed(FakeKuboNode::json(R"({"Path":"/ipfs/bafyresolved"})")));
    return routes;
}

QAction* menuAction(MainWindow* window, const QString& text)
{
    const QList<QAction*> actions = window->findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Closes every message box that opens while it lives, keeping what each said.
class MessageBoxCloser : public QObject
{
public:
    QStringList seen; // "title: text"

    MessageBoxCloser()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            const QWidgetList widgets = QApplication::topLevelWidgets();
            for (QWidget* widget : widgets) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible()) {
                    seen.append(box->windowTitle() + u": "_s + box->text().left(200));
                    box->reject();
                }
            }
        });
        timer.start();
    }

private:
    QTimer timer;
};

} // namespace

Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(Fault)

// Every window against a node that fails in each of the ways a node can: the window ends with the
// message its failure path gives, its buttons come back, what it showed before stays, and the same
// operation works again once the node is healthy.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeKuboNode> node;
    std::unique_ptr<MainWindow> window;
    QPointer<QDialog> dialog; // the window under test, when it is not the main window
    QHash<QString, FakeKuboNode::Handler> healthy;
    QTemporaryDir files;
    int logStart = 0; // status log lines before the operation under test
    std::unique_ptr<MessageBoxCloser> boxes;

    // One target: how to open its window, run its operation and read its outcome.
    struct Driver {
        QStringList commands; // what the fault hits
        QByteArray key; // the member grown to 10 MB or given bytes that are not UTF-8
        QString success; // the start of the outcome when the node is healthy
        std::function<void()> open; // opens the window, which loads once from a healthy node
        std::function<void()> run; // starts the operation under test
        std::function<bool()> settled; // the operation has ended: its buttons are back
        std::function<QStringList()> outcome; // the texts the operation ended with
        std::function<void()> checkKept; // what the window showed before a failure is still there
        bool closesMainWindow = false; // its window is the main window
    };

    IpfsClient* client() const { return window->findChild<IpfsClient*>(); }
    PinModel* model() const
    {
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(window->findChild<QTableView*>()->model());
        return qobject_cast<PinModel*>(proxy->sourceModel());
    }
    QPushButton* button(QWidget* parent, const QString& objectName) const
    {
        return parent->findChild<QPushButton*>(objectName);
    }
    QString statusLabelText() const
    {
        return dialog ? dialog->findChild<QLabel*>(u"statusLabel"_s)->text() : QString();
    }

    QStringList statusSinceRun() const
    {
        QStringList messages;
        const QStringList log = window->statusLog();
        for (qsizetype i = logStart; i < log.size(); ++i)
            messages.append(log.at(i).mid(21)); // after "yyyy-MM-dd hh:mm:ss  "
        return messages;
    }

    void installHealthyNode()
    {
        node->clearRoutes();
        for (auto it = healthy.cbegin(); it != healthy.cend(); ++it)
            node->route(it.key(), it.value());
    }

    template <typename T> void openAdminWindow(void (MainWindow::*show)(MainWindow::AuxWindowMode))
    {
        (window.get()->*show)(MainWindow::ChildWindow);
        dialog = MainWindowFixture::onlyLiveWidget<T>();
        QVERIFY(dialog);
    }

    void answerAddDialog()
    {
        const QString path = files.filePath(u"file.txt"_s);
        ModalDialogDriver::answerNext([path](QWidget* modal) {
            auto* addDialog = qobject_cast<AddToIpfsDialog*>(modal);
            QVERIFY(addDialog);
            auto* view = addDialog->findChild<QTreeView*>(u"browserView"_s);
            auto* fsModel = qobject_cast<QFileSystemModel*>(view->model());
            view->selectionModel()->select(
                fsModel->index(path), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            childWithText<QPushButton>(addDialog, u"Add selected"_s)->click();
            addDialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
    }

    Driver driverFor(Target target)
    {
        Driver d;
        switch (target) {
        case Target::MainRoad: {
            auto* refresh = window->findChild<QPushButton*>(u"refreshBtn"_s);
            d.commands = { u"/pin/ls"_s };
            d.key = "Name";
            d.success = u"Loaded 3 pin(s) \u2014 "_s;
            d.open = [] {};
            d.run = [refresh] { refresh->click(); };
            d.settled = [refresh] { return refresh->isEnabled(); };
            d.outcome = [this] { return statusSinceRun(); };
            d.checkKept = [this] { QCOMPARE(model()->rowCount(), 3); };
            d.closesMainWindow = true;
            break;
        }
        case Target::ConfigEditor:
            d.commands = { u"/config/show"_s };
            d.key = "PeerID";
            d.success = u"Loaded 3 top-level keys from /api/v0/config/show"_s;
            d.open = [this] {
                openAdminWindow<ConfigDialog>(&MainWindow::showConfigDialog);
                QTRY_COMPARE(dialog->findChild<QTreeWidget*>()->topLevelItemCount(), 3);
            };
            d.run = [this] { button(dialog, u"refreshButton"_s)->click(); };
            d.settled = [this] { return button(dialog, u"refreshButton"_s)->isEnabled(); };
            d.outcome = [this] { return QStringList { statusLabelText() }; };
            d.checkKept = [this] { QCOMPARE(dialog->findChild<QTreeWidget*>()->topLevelItemCount(), 3); };
            break;
        case Target::RemoteServices:
            d.commands = { u"/pin/remote/service/ls"_s };
            d.key = "ApiEndpoint";
            d.success = u"Loaded 1 remote service(s)."_s;
            d.open = [this] {
                openAdminWindow<RemoteServicesDialog>(&MainWindow::showRemoteServicesDialog);
                QTRY_COMPARE(dialog->findChild<QListWidget*>()->count(), 1);
            };
            d.run = [this] { button(dialog, u"refreshButton"_s)->click(); };
            d.settled = [this] { return button(dialog, u"refreshButton"_s)->isEnabled(); };
            d.outcome = [this] { return QStringList { statusLabelText() }; };
            d.checkKept = [this] { QCOMPARE(dialog->findChild<QListWidget*>()->count(), 1); };
            break;
        case Target::RepoGc:
            d.commands = { u"/repo/gc"_s };
            d.key = "/";
            d.success = u"GC completed"_s;
            d.open = [this] {
                openAdminWindow<GcDialog>(&MainWindow::showGcDialog);
                QTRY_COMPARE(statusLabelText(), u"Repo stats loaded"_s);
            };
            d.run = [this] { button(dialog, u"runGcButton"_s)->click(); };
            d.settled = [this] {
                return button(dialog, u"runGcButton"_s)->isEnabled()
                    && button(dialog, u"repoStatsButton"_s)->isEnabled();
            };
            d.outcome = [this] { return QStringList { statusLabelText() }; };
            d.checkKept = [] {}; // a failure replaces the report with its message
            break;
        case Target::NetworkStats:
            d.commands = { u"/bitswap/stat"_s };
            d.key = "/";
            d.success = u"Network diagnostics loaded at "_s;
            d.open = [this] {
                openAdminWindow<NetworkStatsDialog>(&MainWindow::showNetworkDialog);
                QTRY_VERIFY(statusLabelText().startsWith(u"Network diagnostics loaded at "_s));
            };
            d.run = [this] { button(dialog, u"refreshButton"_s)->click(); };
            d.settled = [this] { return button(dialog, u"refreshButton"_s)->isEnabled(); };
            // The completion line, and the bitswap failure as the snapshot records it.
            d.outcome = [this] {
                const QJsonObject snapshot
                    = QJsonDocument::fromJson(dialog->findChild<QTextEdit*>()->toPlainText().toUtf8())
                          .object();
                const QJsonObject bitswap
                    = snapshot.value(u"endpoint_status"_s).toObject().value(u"bitswap_stat"_s).toObject();
                return QStringList { statusLabelText(), bitswap.value(u"error"_s).toString() };
            };
            d.checkKept = [] {}; // every answer rebuilds the snapshot
            break;
        case Target::Swarm:
            d.commands = { u"/swarm/peers"_s };
            d.key = "Addr";
            d.success = u"Swarm diagnostics loaded at "_s;
            d.open = [this] {
                openAdminWindow<SwarmDialog>(&MainWindow::showSwarmDialog);
                QTRY_VERIFY(statusLabelText().startsWith(u"Swarm diagnostics loaded at "_s));
            };
            d.run = [this] { button(dialog, u"refreshButton"_s)->click(); };
            d.settled = [this] {
                return button(dialog, u"refreshButton"_s)->isEnabled()
                    && button(dialog, u"refreshBootstrapButton"_s)->isEnabled();
            };
            // Each of the four requests fails alike when nothing listens: the status bar tells them apart.
            d.outcome = [this] { return QStringList { statusLabelText() } + statusSinceRun(); };
            d.checkKept
                = [this] { QCOMPARE(dialog->findChild<QTableWidget*>(u"peersTable"_s)->rowCount(), 2); };
            break;
        case Target::DhtStats:
            d.commands = { u"/stats/dht"_s };
            d.key = "AgentVersion";
            d.success = u"Loaded from /api/v0/stats/dht"_s;
            d.open = [this] {
                openAdminWindow<DhtStatsDialog>(&MainWindow::showDhtStatsDialog);
                QTRY_COMPARE(statusLabelText(), u"Loaded from /api/v0/stats/dht"_s);
            };
            d.run = [this] { button(dialog, u"refreshButton"_s)->click(); };
            d.settled = [this] { return button(dialog, u"refreshButton"_s)->isEnabled(); };
            d.outcome = [this] { return QStringList { statusLabelText() }; };
            d.checkKept = [] {}; // a failure clears the tables
            break;
        case Target::AddFlow: {
            QAction* add = menuAction(window.get(), u"Add to &IPFS\u2026"_s);
            d.commands = { u"/add"_s };
            d.key = "Name";
            d.success = u"Added to IPFS: "_s;
            d.open = [] {};
            d.run = [this, add] {
                answerAddDialog();
                add->trigger();
            };
            d.settled = [add] { return add->isEnabled(); };
            d.outcome = [this] { return statusSinceRun(); };
            d.checkKept = [this] {
                QCOMPARE(model()->rowCount(), 3);
                // The failure is also told in a box.
                QVERIFY(std::any_of(boxes->seen.cbegin(), boxes->seen.cend(), [](const QString& box) {
                    return box.startsWith(u"Add to IPFS failed: Add failed: "_s);
                }));
            };
            d.closesMainWindow = true;
            break;
        }
        case Target::PinContents:
            d.commands = { u"/ls"_s };
            d.key = "Name";
            d.success = u"2 file(s), 0 folder(s)"_s;
            d.open = [] {};
            d.run = [this] {
                delete dialog.data();
                dialog = new PinContentsDialog(kContentsRoot, client(), window.get());
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->show();
            };
            d.settled = [this] {
                return childWithText<QPushButton>(dialog, u"Save all files to disk\u2026"_s)->isEnabled();
            };
            d.outcome = [this] { return QStringList { statusLabelText() }; };
            d.checkKept = [] {}; // a new window each time: nothing to keep
            break;
        case Target::IndirectPins:
            d.commands = { u"/refs"_s };
            d.key = "Ref";
            d.success = u"2 indirect pins"_s;
            d.open = [] {};
            d.run = [this] {
                delete dialog.data();
                dialog = new IndirectPinsDialog(kIndirectRoot, client(), window.get());
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->show();
            };
            d.settled = [this] {
                return dialog->findChild<QLabel*>(u"countLabel"_s)->text() != u"Loading\u2026"_s;
            };
            // The count line; a failure shows in the main window and in the window's list.
            d.outcome = [this] {
                return QStringList { dialog->findChild<QLabel*>(u"countLabel"_s)->text() } + statusSinceRun();
            };
            d.checkKept = [this] {
                auto* view = dialog->findChild<QTableView*>();
                QCOMPARE(view->model()->rowCount(), 1);
                QVERIFY(view->model()->index(0, 0).data().toString().startsWith(u"Error: "_s));
                QCOMPARE(dialog->findChild<QLabel*>(u"countLabel"_s)->text(),
                    u"Failed to load the indirect pins"_s);
            };
            break;
        case Target::Ipns: {
            QAction* resolve = menuAction(window.get(), u"&Resolve IPNS..."_s);
            d.commands = { u"/name/resolve"_s };
            d.key = "Path";
            d.success = u"IPNS resolved: "_s;
            d.open = [] {};
            d.run = [resolve] {
                ModalDialogDriver::answerNext([](QWidget* modal) {
                    auto* prompt = qobject_cast<QInputDialog*>(modal);
                    QVERIFY(prompt);
                    prompt->setTextValue(u"k51qzi5uqu5dname"_s);
                    prompt->accept();
                });
                resolve->trigger();
            };
            d.settled = [this] {
                const QStringList messages = statusSinceRun();
                return std::any_of(messages.cbegin(), messages.cend(), [](const QString& message) {
                    return message.startsWith(u"Error: "_s) || message.startsWith(u"IPNS resolved: "_s);
                });
            };
            d.outcome = [this] { return statusSinceRun(); };
            d.checkKept = [this] { QCOMPARE(model()->rowCount(), 3); };
            d.closesMainWindow = true;
            break;
        }
        }
        return d;
    }

    // The fault's answer to one command, derived from what a healthy node would send.
    FakeKuboNode::Response faultyAnswer(
        Fault fault, const FakeKuboNode::Response& healthyAnswer, const QByteArray& key)
    {
        switch (fault) {
        case Fault::NeverAnswers:
            return FakeKuboNode::never();
        case Fault::Forbidden:
            return FakeKuboNode::text("403 - Forbidden", 403);
        case Fault::ServerError:
            return FakeKuboNode::kuboError(u"boom"_s, 0, 500);
        case Fault::CutMidLine:
            return cutMidLine(healthyAnswer);
        case Fault::HugeLine:
            return withBody(healthyAnswer, hugeLine(bodyOf(healthyAnswer), key));
        case Fault::InvalidUtf8:
            return withBody(healthyAnswer, withInvalidUtf8(bodyOf(healthyAnswer), key));
        case Fault::Refused:
        case Fault::ClosedFirst:
            break;
        }
        return healthyAnswer;
    }

    void applyFault(Fault fault, const Driver& d)
    {
        if (fault == Fault::Refused) {
            // A port that was free a moment ago: nothing listens there.
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            const quint16 deadPort = probe.serverPort();
            probe.close();
            client()->setEndpoint(node->host(), deadPort);
            return;
        }
        for (const QString& command : d.commands) {
            const FakeKuboNode::Handler handler = healthy.value(command);
            if (fault == Fault::ClosedFirst) {
                node->route(command, FakeKuboNode::held());
                continue;
            }
            const QByteArray key = d.key;
            node->route(command, [this, fault, handler, key](const FakeKuboNode::Request& request) {
                return faultyAnswer(fault, handler(request), key);
            });
        }
    }

    void clearFault()
    {
        installHealthyNode();
        client()->setEndpoint(node->host(), node->port());
        client()->setTransferTimeout(kHealthyTransferTimeoutMs);
    }

    static bool matches(const QStringList& outcome, const QString& start, const QString& part)
    {
        return std::any_of(outcome.cbegin(), outcome.cend(),
            [&](const QString& text) { return text.startsWith(start) && text.contains(part); });
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        MainWindowFixture::silenceOffscreenPlatformWarnings();
        QVERIFY(files.isValid());
        QFile file(files.filePath(u"file.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("content");
        healthy = healthyRoutes();
    }

    void init()
    {
        node = std::make_unique<FakeKuboNode>();
        QVERIFY(node->start());
        installHealthyNode();
        QSettings settings = appSettings();
        settings.clear();
        settings.setValue(u"host"_s, node->host());
        settings.setValue(u"port"_s, int(node->port()));
        settings.setValue(u"loadMetadata"_s, false);
        settings.sync();
        window = std::make_unique<MainWindow>();
        window->show();
        QTRY_COMPARE(model()->rowCount(), 3);
        QTRY_VERIFY(window->findChild<QPushButton*>(u"refreshBtn"_s)->isEnabled());
        boxes = std::make_unique<MessageBoxCloser>();
    }

    void cleanup()
    {
        boxes.reset();
        delete dialog.data();
        window.reset();
        MainWindowFixture::deleteTopLevelDialogs();
        node.reset();
        appSettings().clear();
    }

    void matrix_data()
    {
        QTest::addColumn<Target>("target");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("failed"); // the operation fails, so the window keeps what it showed
        QTest::addColumn<QString>("start"); // the outcome begins so
        QTest::addColumn<QString>("part"); // and holds this

        const auto row = [](const char* name, Target target, Fault fault, const QString& start,
                             const QString& part = QString()) {
            QTest::newRow(name) << target << fault << true << start << part;
        };
        // The node's answer is read as the window's success path reads it.
        const auto read = [](const char* name, Target target, Fault fault, const QString& start) {
            QTest::newRow(name) << target << fault << false << start << QString();
        };
        const QString forbidden = u"403 - Forbidden"_s;
        const QString serverError = u"boom"_s;
        const QString timedOut = u"The node sent nothing for 0.5 s"_s;

        row("main road: refused", Target::MainRoad, Fault::Refused,
            u"Error: Network error: Connection refused"_s);
        row("main road: never answers", Target::MainRoad, Fault::NeverAnswers,
            u"Error: Network error: "_s + timedOut);
        row("main road: 403", Target::MainRoad, Fault::Forbidden, u"Error: The node could not list pins: "_s,
            forbidden);
        row("main road: 500", Target::MainRoad, Fault::ServerError, u"Error: The node could not list pins: "_s,
            serverError);
        row("main road: cut", Target::MainRoad, Fault::CutMidLine,
            u"Error: Network error: Connection closed"_s);
        read("main road: 10 MB line", Target::MainRoad, Fault::HugeLine, u"Loaded 2 pin(s) \u2014 "_s);
        read("main road: invalid UTF-8", Target::MainRoad, Fault::InvalidUtf8, u"Loaded 1 pin(s) \u2014 "_s);
        read("main road: window closed", Target::MainRoad, Fault::ClosedFirst, QString());

        row("config: refused", Target::ConfigEditor, Fault::Refused,
            u"Failed to get config: Connection refused"_s);
        row("config: never answers", Target::ConfigEditor, Fault::NeverAnswers,
            u"Failed to get config: "_s + timedOut);
        row("config: 403", Target::ConfigEditor, Fault::Forbidden, u"Failed to get config: "_s, forbidden);
        row("config: 500", Target::ConfigEditor, Fault::ServerError, u"Failed to get config: "_s,
            serverError);
        row("config: cut", Target::ConfigEditor, Fault::CutMidLine,
            u"Failed to get config: Connection closed"_s);
        read("config: 10 MB line", Target::ConfigEditor, Fault::HugeLine,
            u"Loaded 3 top-level keys from /api/v0/config/show"_s);
        row("config: invalid UTF-8", Target::ConfigEditor, Fault::InvalidUtf8, u"Invalid config JSON: "_s);
        read("config: window closed", Target::ConfigEditor, Fault::ClosedFirst, QString());

        row("remote services: refused", Target::RemoteServices, Fault::Refused,
            u"Remote service request failed: Connection refused"_s);
        row("remote services: never answers", Target::RemoteServices, Fault::NeverAnswers,
            u"Remote service request failed: "_s + timedOut);
        row("remote services: 403", Target::RemoteServices, Fault::Forbidden,
            u"Remote service request failed: "_s, forbidden);
        row("remote services: 500", Target::RemoteServices, Fault::ServerError,
            u"Remote service request failed: "_s, serverError);
        row("remote services: cut", Target::RemoteServices, Fault::CutMidLine,
            u"Remote service request failed: Connection closed"_s);
        read("remote services: 10 MB line", Target::RemoteServices, Fault::HugeLine,
            u"Loaded 1 remote service(s)."_s);
        row("remote services: invalid UTF-8", Target::RemoteServices, Fault::InvalidUtf8,
            u"Remote service request failed: invalid JSON response."_s);
        read("remote services: window closed", Target::RemoteServices, Fault::ClosedFirst, QString());

        row("repo gc: refused", Target::RepoGc, Fault::Refused,
            u"Failed to run repo GC: Connection refused"_s);
        // A collection has no silence limit (it may mark for long before its first line): a silent
        // one keeps its window busy until the window is closed, as "window closed" shows.
        row("repo gc: 403", Target::RepoGc, Fault::Forbidden, u"Failed to run repo GC: "_s, forbidden);
        row("repo gc: 500", Target::RepoGc, Fault::ServerError, u"Failed to run repo GC: "_s, serverError);
        row("repo gc: cut", Target::RepoGc, Fault::CutMidLine, u"Failed to run repo GC: Connection closed"_s);
        read("repo gc: 10 MB line", Target::RepoGc, Fault::HugeLine, u"GC completed"_s);
        read("repo gc: invalid UTF-8", Target::RepoGc, Fault::InvalidUtf8, u"GC completed"_s);
        read("repo gc: window closed", Target::RepoGc, Fault::ClosedFirst, QString());

        row("network: refused", Target::NetworkStats, Fault::Refused,
            u"Failed to get bitswap stats: Connection refused"_s);
        row("network: never answers", Target::NetworkStats, Fault::NeverAnswers,
            u"Failed to get bitswap stats: "_s + timedOut);
        row("network: 403", Target::NetworkStats, Fault::Forbidden,
            u"Failed to get bitswap stats: 403 - Forbidden"_s);
        row("network: 500", Target::NetworkStats, Fault::ServerError,
            u"Failed to get bitswap stats: boom"_s);
        // The body cut short is data, not the node's error text.
        row("network: cut", Target::NetworkStats, Fault::CutMidLine,
            u"Failed to get bitswap stats: Connection closed"_s);
        read("network: 10 MB line", Target::NetworkStats, Fault::HugeLine,
            u"Network diagnostics loaded at "_s);
        row("network: invalid UTF-8", Target::NetworkStats, Fault::InvalidUtf8,
            u"Failed to get bitswap stats: invalid JSON response"_s);
        read("network: window closed", Target::NetworkStats, Fault::ClosedFirst, QString());

        row("swarm: refused", Target::Swarm, Fault::Refused,
            u"Swarm peers error: Failed to fetch swarm peers: Connection refused"_s);
        row("swarm: never answers", Target::Swarm, Fault::NeverAnswers,
            u"Swarm peers error: Failed to fetch swarm peers: "_s + timedOut);
        row("swarm: 403", Target::Swarm, Fault::Forbidden,
            u"Swarm peers error: Failed to fetch swarm peers: 403 - Forbidden"_s);
        row("swarm: 500", Target::Swarm, Fault::ServerError,
            u"Swarm peers error: Failed to fetch swarm peers: boom"_s);
        row("swarm: cut", Target::Swarm, Fault::CutMidLine,
            u"Swarm peers error: Failed to fetch swarm peers: Connection closed"_s);
        read("swarm: 10 MB line", Target::Swarm, Fault::HugeLine, u"Swarm diagnostics loaded at "_s);
        row("swarm: invalid UTF-8", Target::Swarm, Fault::InvalidUtf8,
            u"Swarm peers error: Failed to fetch swarm peers: invalid JSON response"_s);
        read("swarm: window closed", Target::Swarm, Fault::ClosedFirst, QString());

        row("dht: refused", Target::DhtStats, Fault::Refused,
            u"Failed to get DHT stats: Connection refused"_s);
        row("dht: never answers", Target::DhtStats, Fault::NeverAnswers,
            u"Failed to get DHT stats: "_s + timedOut);
        row("dht: 403", Target::DhtStats, Fault::Forbidden, u"Failed to get DHT stats: "_s, forbidden);
        row("dht: 500", Target::DhtStats, Fault::ServerError, u"Failed to get DHT stats: "_s, serverError);
        row("dht: cut", Target::DhtStats, Fault::CutMidLine, u"Failed to get DHT stats: Connection closed"_s);
        read("dht: 10 MB line", Target::DhtStats, Fault::HugeLine, u"Loaded from /api/v0/stats/dht"_s);
        // The first line is skipped, the second still holds a DHT.
        read("dht: invalid UTF-8", Target::DhtStats, Fault::InvalidUtf8, u"Loaded from /api/v0/stats/dht"_s);
        read("dht: window closed", Target::DhtStats, Fault::ClosedFirst, QString());

        row("add: refused", Target::AddFlow, Fault::Refused, u"Error: Add failed: Connection refused"_s);
        row("add: never answers", Target::AddFlow, Fault::NeverAnswers, u"Error: Add failed: "_s + timedOut);
        row("add: 403", Target::AddFlow, Fault::Forbidden, u"Error: Add failed: "_s, forbidden);
        row("add: 500", Target::AddFlow, Fault::ServerError, u"Error: Add failed: "_s, serverError);
        row("add: cut", Target::AddFlow, Fault::CutMidLine, u"Error: Add failed: Connection closed"_s);
        read("add: 10 MB line", Target::AddFlow, Fault::HugeLine, u"Added to IPFS: bafkfile"_s);
        // The file's own line is skipped; the wrapping folder is still reported.
        read("add: invalid UTF-8", Target::AddFlow, Fault::InvalidUtf8, u"Added to IPFS: bafywrap"_s);
        read("add: window closed", Target::AddFlow, Fault::ClosedFirst, QString());

        row("contents: refused", Target::PinContents, Fault::Refused,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s,
            u"List failed for bafyrecA: Connection refused"_s);
        row("contents: never answers", Target::PinContents, Fault::NeverAnswers,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s, u"List failed for bafyrecA: "_s + timedOut);
        row("contents: 403", Target::PinContents, Fault::Forbidden,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s, forbidden);
        row("contents: 500", Target::PinContents, Fault::ServerError,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s, serverError);
        row("contents: cut", Target::PinContents, Fault::CutMidLine,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s,
            u"List failed for bafyrecA: Connection closed"_s);
        read("contents: 10 MB line", Target::PinContents, Fault::HugeLine, u"2 file(s), 0 folder(s)"_s);
        row("contents: invalid UTF-8", Target::PinContents, Fault::InvalidUtf8,
            u"0 file(s), 0 folder(s) \u2014 incomplete: "_s,
            u"List failed for bafyrecA: Invalid JSON from ls"_s);
        read("contents: window closed", Target::PinContents, Fault::ClosedFirst, QString());

        const QString refsFailed = u"Error: Failed to get refs for bafyindirectroot: "_s;
        row("indirect: refused", Target::IndirectPins, Fault::Refused, refsFailed + u"Connection refused"_s);
        row("indirect: never answers", Target::IndirectPins, Fault::NeverAnswers, refsFailed + timedOut);
        row("indirect: 403", Target::IndirectPins, Fault::Forbidden, refsFailed, forbidden);
        row("indirect: 500", Target::IndirectPins, Fault::ServerError, refsFailed, serverError);
        row("indirect: cut", Target::IndirectPins, Fault::CutMidLine, refsFailed + u"Connection closed"_s);
        read("indirect: 10 MB line", Target::IndirectPins, Fault::HugeLine, u"1 indirect pin"_s);
        // Each line is decoded before it is parsed: the bad bytes become replacement characters.
        read("indirect: invalid UTF-8", Target::IndirectPins, Fault::InvalidUtf8, u"2 indirect pins"_s);
        read("indirect: window closed", Target::IndirectPins, Fault::ClosedFirst, QString());

        row("ipns: refused", Target::Ipns, Fault::Refused,
            u"Error: Failed to resolve IPNS name: Connection refused"_s);
        row("ipns: never answers", Target::Ipns, Fault::NeverAnswers,
            u"Error: Failed to resolve IPNS name: "_s + timedOut);
        row("ipns: 403", Target::Ipns, Fault::Forbidden,
            u"Error: Failed to resolve IPNS name: 403 - Forbidden"_s);
        row("ipns: 500", Target::Ipns, Fault::ServerError,
            u"Error: Failed to resolve IPNS name: boom"_s);
        row("ipns: cut", Target::Ipns, Fault::CutMidLine,
            u"Error: Failed to resolve IPNS name: Connection closed"_s);
        read("ipns: 10 MB line", Target::Ipns, Fault::HugeLine,
            u"IPNS resolved: /ipns/k51qzi5uqu5dname -> xxxx"_s);
        row("ipns: invalid UTF-8", Target::Ipns, Fault::InvalidUtf8,
            u"Error: Failed to resolve IPNS name: invalid JSON response"_s);
        read("ipns: window closed", Target::Ipns, Fault::ClosedFirst, QString());
    }

    void matrix()
    {
        QFETCH(Target, target);
        QFETCH(Fault, fault);
        QFETCH(bool, failed);
        QFETCH(QString, start);
        QFETCH(QString, part);

        Driver d = driverFor(target);
        d.open();
        if (QTest::currentTestFailed())
            return;
        if (fault == Fault::NeverAnswers)
            client()->setTransferTimeout(kTestTransferTimeoutMs);
        applyFault(fault, d);
        logStart = int(window->statusLog().size());

        if (fault == Fault::ClosedFirst) {
            d.run();
            QTRY_VERIFY(node->heldCount() >= 1);
            const QList<FakeKuboNode::Request> held = node->heldRequests();
            if (d.closesMainWindow) {
                window.reset();
            } else {
                dialog->close();
                QTRY_VERIFY(!dialog);
            }
            for (const FakeKuboNode::Request& request : held) {
                const QString command = request.path.mid(int(qstrlen("/api/v0")));
                node->releaseHeld(command, healthy.value(command)(request), 1);
            }
            if (!d.closesMainWindow) {
                QTRY_VERIFY(client()->findChildren<QNetworkReply*>().isEmpty());
                // The main window goes on: its table answers a refresh as before.
                clearFault();
                auto* refresh = window->findChild<QPushButton*>(u"refreshBtn"_s);
                refresh->click();
                QTRY_VERIFY(refresh->isEnabled());
                QCOMPARE(model()->rowCount(), 3);
            } else {
                QTest::qWait(200); // whatever is still queued for the dead window runs now
            }
            return;
        }

        d.run();
        QTRY_VERIFY_WITH_TIMEOUT(d.settled(), 20000);
        QTRY_VERIFY2(matches(d.outcome(), start, part), qPrintable(d.outcome().join(u"\n | "_s).left(2000)));
        if (failed)
            d.checkKept();

        // The window is still usable: once the node is healthy the same operation succeeds.
        clearFault();
        logStart = int(window->statusLog().size());
        d.run();
        QTRY_VERIFY_WITH_TIMEOUT(d.settled(), 20000);
        QTRY_VERIFY2(
            matches(d.outcome(), d.success, QString()), qPrintable(d.outcome().join(u"\n | "_s).left(2000)));
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
