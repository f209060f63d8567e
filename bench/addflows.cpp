#include "windowsteps.h"

#include "adddriver.h"
#include "addtoipfsdialog.h"
#include "benchsupport.h"
#include "benchwindow.h"
#include "ipfsclient.h"
#include "monotonicclock.h"
#include "nodeprocess.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

namespace {

constexpr int kTablePins = 1000;
constexpr int kServiceDelayMs = 1000;
constexpr int kQueuedMs = 10000;
constexpr int kRefreshAfterMs = 3000;
constexpr int kFollowUpLimitMs = 120000;

QStringList makeFiles(const QTemporaryDir& folder, int count)
{
    QStringList paths;
    for (int index = 0; index < count; ++index) {
        const QString path
            = folder.filePath(QStringLiteral("file-%1.txt").arg(index, 6, 10, QLatin1Char('0')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(QByteArray("bench file ") + QByteArray::number(index)) < 0)
            qFatal("cannot write %s", qPrintable(path));
        paths.append(path);
    }
    return paths;
}

} // namespace

QJsonObject measureAddResult(int entries)
{
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(kTablePins),
        QStringLiteral("--add-entries"), QString::number(entries) });
    pointSettingsAtBenchNode(node.port());
    const QTemporaryDir folder;
    const QStringList files = makeFiles(folder, 1);
    BenchWindow bench;
    if (!bench.waitForLoads(1, 60000))
        qFatal("the first refresh did not load");

    StallMeter stall;
    QElapsedTimer sinceUpload;
    QObject::connect(bench.client, &IpfsClient::rpcRequestIssued, &bench.window, [&](const QString& line) {
        if (!sinceUpload.isValid() && line.contains(QLatin1String("/add"))) {
            sinceUpload.start();
            stall.start();
        }
    });
    double boxMs = -1;
    double stallMs = -1;
    QString boxText;
    ModalAnswerer answerer([&](QWidget* modal) {
        if (qobject_cast<AddToIpfsDialog*>(modal)) {
            AddChoice choice;
            choice.paths = files;
            fillAddDialog(modal, choice);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxMs = elapsedMs(sinceUpload);
            stallMs = stall.stop();
            boxText = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    bench.addButton->click();
    if (!waitUntil([&] { return boxMs >= 0; }, 600000))
        qFatal("the add result box did not appear");

    QJsonObject figures;
    figures.insert(QStringLiteral("entries"), entries);
    figures.insert(QStringLiteral("ms"), boxMs);
    figures.insert(QStringLiteral("stallMs"), stallMs);
    figures.insert(QStringLiteral("boxText"), boxText.left(200));
    return figures;
}

QJsonObject measureRemoteFollowUp(int cids)
{
    const NodeProcess node(
        { QStringLiteral("--pins"), QString::number(kTablePins), QStringLiteral("--add-entries"),
            QString::number(cids), QStringLiteral("--service-delay"), QString::number(kServiceDelayMs),
            QStringLiteral("--remote-pinned-after"), QString::number(kQueuedMs) });
    pointSettingsAtBenchNode(node.port());
    const QTemporaryDir folder;
    const QStringList files = makeFiles(folder, cids);
    BenchWindow bench;
    if (!bench.waitForLoads(1, 60000))
        qFatal("the first refresh did not load");

    StallMeter stall;
    QElapsedTimer sinceFollowUp;
    int statusRequests = 0;
    QObject::connect(bench.client, &IpfsClient::rpcRequestIssued, &bench.window, [&](const QString& line) {
        if (!sinceFollowUp.isValid() && line.contains(QLatin1String("/pin/remote/add"))) {
            sinceFollowUp.start();
            stall.start();
        }
        if (line.contains(QLatin1String("/pin/remote/ls")))
            ++statusRequests;
    });
    double finishedMs = -1;
    QString summary;
    QObject::connect(&bench.window, &MainWindow::statusLogAppended, &bench.window, [&](const QString& line) {
        if (finishedMs < 0 && line.contains(QLatin1String("Remote pin complete on"))) {
            finishedMs = elapsedMs(sinceFollowUp);
            summary = line.mid(line.indexOf(QLatin1String("Remote pin complete")));
        }
    });
    ModalAnswerer answerer([&](QWidget* modal) {
        if (qobject_cast<AddToIpfsDialog*>(modal)) {
            AddChoice choice;
            choice.paths = files;
            choice.wrap = false; // each file its own root: one remote pin each
            choice.destination = QStringLiteral("both");
            choice.service = QStringLiteral("svc");
            fillAddDialog(modal, choice);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Ok)->click();
        }
    });
    bench.addButton->click();
    if (!waitUntil([&] { return sinceFollowUp.isValid(); }, 120000))
        qFatal("the remote pin follow-up did not start");

    // A refresh asked for while the follow-up runs (the add's own refresh is over by then).
    waitUntil([&] { return sinceFollowUp.elapsed() >= kRefreshAfterMs && bench.refreshButton->isEnabled(); },
        kFollowUpLimitMs);
    const double refreshAtMs = elapsedMs(sinceFollowUp);
    const int loadsBefore = bench.loads;
    const qint64 refreshIssued = monotonicMs();
    bench.refreshButton->click();
    QElapsedTimer sinceRefresh;
    sinceRefresh.start();
    double refreshLoadedMs = -1;
    waitUntil([&] { return bench.loads > loadsBefore; }, kFollowUpLimitMs);
    if (bench.loads > loadsBefore)
        refreshLoadedMs = elapsedMs(sinceRefresh);
    const QJsonObject pinLs = commandStats(node.stats(), QStringLiteral("/pin/ls"));
    const double refreshReachedMs = pinLs.value(QLatin1String("lastMs")).toDouble() >= double(refreshIssued)
        ? pinLs.value(QLatin1String("lastMs")).toDouble() - double(refreshIssued)
        : -1;

    waitUntil([&] { return finishedMs >= 0; }, kFollowUpLimitMs - int(sinceFollowUp.elapsed()));
    const double stallMs = stall.stop();
    const QJsonObject stats = node.stats();
    const QJsonObject statusAtNode = commandStats(stats, QStringLiteral("/pin/remote/ls"));

    QJsonObject figures;
    figures.insert(QStringLiteral("cids"), cids);
    figures.insert(QStringLiteral("serviceDelayMs"), kServiceDelayMs);
    figures.insert(QStringLiteral("queuedMs"), kQueuedMs);
    figures.insert(QStringLiteral("finishedMs"), finishedMs);
    figures.insert(QStringLiteral("limitMs"), kFollowUpLimitMs);
    figures.insert(QStringLiteral("summary"), summary);
    figures.insert(QStringLiteral("statusRequestsSent"), statusRequests);
    figures.insert(
        QStringLiteral("statusRequestsAtNode"), statusAtNode.value(QLatin1String("count")).toInt());
    figures.insert(
        QStringLiteral("statusMaxInFlight"), statusAtNode.value(QLatin1String("maxInFlight")).toInt());
    figures.insert(QStringLiteral("addRequestsAtNode"),
        commandStats(stats, QStringLiteral("/pin/remote/add")).value(QLatin1String("count")).toInt());
    figures.insert(QStringLiteral("refreshAtMs"), refreshAtMs);
    figures.insert(QStringLiteral("refreshReachedNodeMs"), refreshReachedMs);
    figures.insert(QStringLiteral("refreshLoadedMs"), refreshLoadedMs);
    figures.insert(QStringLiteral("stallMs"), stallMs);
    return figures;
}
