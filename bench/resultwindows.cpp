#include "resultwindows.h"

#include "addtoipfsdialog.h"
#include "benchsupport.h"
#include "gcdialog.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "pincontentsdialog.h"
#include "scriptednode.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <functional>

namespace {

QString benchCid(const char* prefix, int index)
{
    return QStringLiteral("bafkrei%1%2").arg(QLatin1String(prefix)).arg(index, 40, 10, QLatin1Char('a'));
}

QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// The answers a main window asks for on its own: an empty node.
void answerAsEmptyNode(ScriptedNode& node)
{
    node.setAnswer(QStringLiteral("/pin/ls"), {});
    node.setAnswer(QStringLiteral("/refs/local"), {});
    node.setAnswer(QStringLiteral("/id"),
        { R"({"ID":"12D3KooWBenchResultWindows","AgentVersion":"kubo/0.43.1/vaxel-bench"})" });
    node.setAnswer(QStringLiteral("/version"), { R"({"Version":"0.43.1"})" });
    node.setAnswer(QStringLiteral("/pin/remote/service/ls"),
        { R"({"RemoteServices":[{"Service":"svc","ApiEndpoint":"http://127.0.0.1:9/psa"}]})" });
}

// "/add" lines for count files, unwrapped.
QByteArray addAnswer(int count)
{
    QByteArray body;
    for (int i = 0; i < count; ++i) {
        body += jsonLine({ { QStringLiteral("Name"), QStringLiteral("file-%1.txt").arg(i) },
            { QStringLiteral("Hash"), benchCid("add", i) },
            { QStringLiteral("Size"), QStringLiteral("7") } });
    }
    return body;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

void waitFor(int ms)
{
    waitUntil([] { return false; }, ms);
}

QString statusOf(QWidget* window)
{
    auto* label = window->findChild<QLabel*>(QStringLiteral("statusLabel"));
    return label ? label->text() : QString();
}

// Presses OK on the next message box, from inside its own event loop, and notes when it showed.
class ResultBoxCloser : public QObject
{
public:
    explicit ResultBoxCloser(const QElapsedTimer& clock)
        : clock(clock)
    {
        poll.setInterval(2);
        connect(&poll, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            shownAtMs = elapsedMs(this->clock);
            poll.stop();
            box->button(QMessageBox::Ok)->click();
        });
        poll.start();
    }
    double shownAtMs = -1;

private:
    const QElapsedTimer& clock;
    QTimer poll;
};

std::unique_ptr<MainWindow> openMainWindow(ScriptedNode& node)
{
    pointSettingsAtBenchNode(node.port());
    auto window = std::make_unique<MainWindow>();
    window->resize(1200, 800);
    window->show();
    if (!waitUntil([&node] { return !node.arrivals(QStringLiteral("/pin/ls")).isEmpty(); }, 10000))
        qFatal("the main window did not load");
    waitFor(300);
    return window;
}

// Picks the file in the add dialog, unwrapped, to a remote service, and accepts it.
void fillAddDialog(AddToIpfsDialog* dialog, const QString& path)
{
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("browserView"));
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    view->selectionModel()->select(
        model->index(path), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Add selected"))
            button->click();
    }
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("Wrap with directory"))
            box->setChecked(false);
        if (box->text() == QStringLiteral("Unpin local after remote pin is confirmed"))
            box->setChecked(false);
    }
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        const int remote = combo->findData(QStringLiteral("remote"));
        if (!combo->isEditable() && remote >= 0)
            combo->setCurrentIndex(remote);
    }
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        if (combo->isEditable())
            combo->setEditText(QStringLiteral("svc"));
    }
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

int countBetween(const QList<double>& arrivals, double from, double to)
{
    int count = 0;
    for (double at : arrivals)
        count += at >= from && at < to ? 1 : 0;
    return count;
}

} // namespace

QJsonObject measureAddResultBox(int entryCount)
{
    ScriptedNode node;
    answerAsEmptyNode(node);
    node.setAnswer(QStringLiteral("/add"), { addAnswer(entryCount) });
    if (!node.start())
        qFatal("cannot listen");
    const std::unique_ptr<MainWindow> window = openMainWindow(node);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("upload\n") != 7)
        qFatal("cannot write %s", qPrintable(path));
    file.close();

    QElapsedTimer clock;
    ResultBoxCloser closer(clock);
    StallMeter stall;
    stall.start();
    clock.start();
    AddOptions options;
    options.wrapWithDirectory = false;
    window->findChild<IpfsClient*>()->addLocalPaths({ { path, QString(), false } }, options);
    if (!waitUntil([&closer] { return closer.shownAtMs >= 0; }, 120000))
        qFatal("no result box");
    const double stallMs = stall.stop();
    return { { QStringLiteral("entries"), entryCount }, { QStringLiteral("boxMs"), closer.shownAtMs },
        { QStringLiteral("stallMs"), stallMs } };
}

QJsonObject measureGcReport(int cidCount)
{
    ScriptedNode node;
    QByteArray body;
    for (int i = 0; i < cidCount; ++i)
        body += jsonLine(
            { { QStringLiteral("Key"), QJsonObject { { QStringLiteral("/"), benchCid("gc", i) } } } });
    node.setAnswer(QStringLiteral("/repo/gc"), { body });
    node.setAnswer(QStringLiteral("/repo/stat"), { R"({"NumObjects":1,"RepoSize":1})" });
    if (!node.start())
        qFatal("cannot listen");
    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), node.port());
    GcDialog dialog(&client);
    dialog.show();
    if (!waitUntil([&dialog] { return statusOf(&dialog) == QStringLiteral("Repo stats loaded"); }, 10000))
        qFatal("no repo stats");

    QElapsedTimer clock;
    StallMeter stall;
    stall.start();
    clock.start();
    dialog.findChild<QPushButton*>(QStringLiteral("runGcButton"))->click();
    if (!waitUntil([&dialog] { return statusOf(&dialog) == QStringLiteral("GC completed"); }, 120000))
        qFatal("no GC report");
    const double reportMs = elapsedMs(clock);
    waitFor(500); // whatever the report still lays out after it is shown
    const double stallMs = stall.stop();
    return { { QStringLiteral("cids"), cidCount }, { QStringLiteral("reportMs"), reportMs },
        { QStringLiteral("stallMs"), stallMs } };
}

QJsonObject measureCollidingNames(int nameCount)
{
    const QString root = benchCid("root", 0);
    QJsonArray links;
    for (int i = 0; i < nameCount; ++i) {
        links.append(QJsonObject { { QStringLiteral("Name"), QStringLiteral("report.pdf") },
            { QStringLiteral("Hash"), benchCid("same", i) }, { QStringLiteral("Size"), 3 },
            { QStringLiteral("Type"), 2 } });
    }
    const QJsonObject listing { { QStringLiteral("Objects"),
        QJsonArray {
            QJsonObject { { QStringLiteral("Hash"), root }, { QStringLiteral("Links"), links } } } } };
    ScriptedNode node;
    node.setAnswer(QStringLiteral("/ls"), { QJsonDocument(listing).toJson(QJsonDocument::Compact) });
    if (!node.start())
        qFatal("cannot listen");
    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), node.port());

    QElapsedTimer clock;
    StallMeter stall;
    stall.start();
    clock.start();
    auto* dialog = new PinContentsDialog(root, &client, nullptr);
    dialog->show();
    const QString loaded = QStringLiteral("%1 file(s), 0 folder(s)").arg(nameCount);
    if (!waitUntil([dialog, &loaded] { return statusOf(dialog).startsWith(loaded); }, 120000))
        qFatal("contents not loaded: %s", qPrintable(statusOf(dialog)));
    const double loadMs = elapsedMs(clock);
    const double stallMs = stall.stop();
    delete dialog;
    return { { QStringLiteral("names"), nameCount }, { QStringLiteral("loadMs"), loadMs },
        { QStringLiteral("stallMs"), stallMs } };
}

QJsonObject measureRemotePinFollowUp(int cidCount, int serviceDelayMs)
{
    ScriptedNode node;
    answerAsEmptyNode(node);
    node.setAnswer(QStringLiteral("/add"), { addAnswer(cidCount) });
    node.setAnswer(QStringLiteral("/pin/remote/add"), { "{}", serviceDelayMs });
    // The service lists none of them yet: every CID stays pending and is asked again.
    node.setAnswer(QStringLiteral("/pin/remote/ls"), { QByteArray(), serviceDelayMs });
    if (!node.start())
        qFatal("cannot listen");
    const std::unique_ptr<MainWindow> window = openMainWindow(node);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("upload\n") != 7)
        qFatal("cannot write %s", qPrintable(path));
    file.close();

    QElapsedTimer clock;
    clock.start();
    ResultBoxCloser closer(clock);
    QTimer dialogPoll;
    dialogPoll.setInterval(5);
    QObject::connect(&dialogPoll, &QTimer::timeout, &dialogPoll, [&dialogPoll, &path] {
        auto* dialog = qobject_cast<AddToIpfsDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        dialogPoll.stop();
        fillAddDialog(dialog, path);
    });
    dialogPoll.start();
    QMetaObject::invokeMethod(window.get(), "onAddToIpfsClicked", Qt::QueuedConnection);
    if (!waitUntil([&closer] { return closer.shownAtMs >= 0; }, 60000))
        qFatal("no result box");

    const double start = closer.shownAtMs;
    const int loadsBefore = int(node.arrivals(QStringLiteral("/pin/ls")).size());
    StallMeter stall;
    stall.start();
    waitUntil([&clock, start] { return elapsedMs(clock) >= start + 3000; }, 10000);
    const double refreshAt = elapsedMs(clock);
    window->findChild<QPushButton*>(QStringLiteral("refreshBtn"))->click();
    const bool reached = waitUntil(
        [&node, loadsBefore] { return node.arrivals(QStringLiteral("/pin/ls")).size() > loadsBefore; },
        30000);
    const double refreshMs = reached ? elapsedMs(clock) - refreshAt : -1;
    waitUntil([&clock, start] { return elapsedMs(clock) >= start + 10000; }, 20000);
    const double stallMs = stall.stop();

    const QList<double> statusArrivals = node.arrivals(QStringLiteral("/pin/remote/ls"));
    const QList<double> pinArrivals = node.arrivals(QStringLiteral("/pin/remote/add"));
    // The node keeps its own clock: the ten seconds start with the first remote pin request.
    const double nodeStart = pinArrivals.isEmpty() ? 0 : pinArrivals.first();
    return { { QStringLiteral("cids"), cidCount }, { QStringLiteral("serviceDelayMs"), serviceDelayMs },
        { QStringLiteral("statusRequests10s"), countBetween(statusArrivals, nodeStart, nodeStart + 10000) },
        { QStringLiteral("pinRequests10s"), countBetween(pinArrivals, nodeStart, nodeStart + 10000) },
        { QStringLiteral("mostOpenStatusRequests"), node.mostOpen(QStringLiteral("/pin/remote/ls")) },
        { QStringLiteral("mostOpenPinRequests"), node.mostOpen(QStringLiteral("/pin/remote/add")) },
        { QStringLiteral("refreshReachesNodeMs"), refreshMs }, { QStringLiteral("stallMs"), stallMs } };
}
