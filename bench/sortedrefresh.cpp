#include "windowsteps.h"

#include "benchsupport.h"
#include "benchwindow.h"
#include "ipfsclient.h"
#include "nodeprocess.h"
#include "pinmodel.h"

#include <QAbstractItemModel>
#include <QPushButton>
#include <QTableView>

namespace {

struct Watched {
    double tableMs = -1;
    double stallMs = 0;
    double busyMs = 0;
    int answers = 0; // metadata answers handled while watched
};

// From `start` (which issues the refresh) until the table is in and watchSeconds more.
template <typename Start>
Watched watchRefresh(BenchWindow& bench, const int& answers, int watchSeconds, Start start)
{
    Watched watched;
    StallMeter stall;
    QElapsedTimer timer;
    const int loadsBefore = bench.loads;
    stall.start();
    timer.start();
    start();
    if (!bench.waitForLoads(loadsBefore + 1, 120000))
        qFatal("the refresh did not load");
    watched.tableMs = elapsedMs(timer);
    const int answersBefore = answers;
    QElapsedTimer watch;
    watch.start();
    waitUntil([&] { return watch.elapsed() >= watchSeconds * 1000; }, watchSeconds * 1000 + 1000);
    watched.stallMs = stall.stop();
    watched.busyMs = stall.longestBusyMs();
    watched.answers = answers - answersBefore;
    return watched;
}

} // namespace

QJsonObject measureSortedRefresh(int pins, int column, int watchSeconds)
{
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(pins) });
    pointSettingsAtBenchNode(node.port());
    BenchWindow bench;
    // Largest first, as one sorts sizes; the other columns as they come.
    bench.table->sortByColumn(
        column, column == PinModel::DagSizeColumn ? Qt::DescendingOrder : Qt::AscendingOrder);
    int answers = 0;
    QObject::connect(bench.client, &IpfsClient::dagStatReceived, &bench.window, [&] { ++answers; });
    QObject::connect(bench.client, &IpfsClient::kindReceived, &bench.window, [&] { ++answers; });
    QObject::connect(bench.client, &IpfsClient::refsReceived, &bench.window, [&] { ++answers; });

    // The first refresh starts from the window's own timer.
    const Watched first = watchRefresh(bench, answers, watchSeconds, [] {});
    const int answersBeforeSecond = answers;
    const Watched second = watchRefresh(bench, answers, watchSeconds, [&] { bench.refreshButton->click(); });
    if (bench.table->model()->rowCount() != pins)
        qFatal("the table shows %d of %d rows", bench.table->model()->rowCount(), pins);

    QJsonObject figures;
    figures.insert(QStringLiteral("pins"), pins);
    figures.insert(QStringLiteral("column"), column);
    figures.insert(
        QStringLiteral("columnName"), bench.table->model()->headerData(column, Qt::Horizontal).toString());
    figures.insert(QStringLiteral("watchSeconds"), watchSeconds);
    figures.insert(QStringLiteral("firstTableMs"), first.tableMs);
    figures.insert(QStringLiteral("firstStallMs"), first.stallMs);
    figures.insert(QStringLiteral("firstBusyMs"), first.busyMs);
    figures.insert(QStringLiteral("firstAnswers"), first.answers);
    figures.insert(QStringLiteral("answersBeforeSecond"), answersBeforeSecond);
    figures.insert(QStringLiteral("secondTableMs"), second.tableMs);
    figures.insert(QStringLiteral("secondStallMs"), second.stallMs);
    figures.insert(QStringLiteral("secondBusyMs"), second.busyMs);
    figures.insert(QStringLiteral("secondAnswers"), second.answers);
    figures.insert(QStringLiteral("peakMiB"), procStatusMiB("VmHWM"));
    return figures;
}
