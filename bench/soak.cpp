#include "soak.h"

#include "appsettings.h"
#include "benchsupport.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "nodeprocess.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QLabel>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Sample {
    int refresh = 0;
    double rssMiB = 0;
    double heapMiB = 0;
    qsizetype statusLines = 0;
    qsizetype rpcLines = 0;
    double logMiB = 0;
};

// What the lines of both logs hold, roughly: their UTF-16 text and a string's bookkeeping.
double logMiB(const QStringList& lines)
{
    qint64 bytes = 0;
    for (const QString& line : lines)
        bytes += 2 * (line.size() + 1) + 48;
    return double(bytes) / 1048576.0;
}

Sample sample(const MainWindow& window, int refresh)
{
    Sample s;
    s.refresh = refresh;
    s.rssMiB = procStatusMiB("VmRSS");
    s.heapMiB = heapInUseMiB();
    const QStringList status = window.statusLog();
    const QStringList rpc = window.rpcLog();
    s.statusLines = status.size();
    s.rpcLines = rpc.size();
    s.logMiB = logMiB(status) + logMiB(rpc);
    return s;
}

QJsonObject toJson(const Sample& s)
{
    return { { QStringLiteral("refresh"), s.refresh }, { QStringLiteral("rssMiB"), s.rssMiB },
        { QStringLiteral("heapMiB"), s.heapMiB }, { QStringLiteral("statusLines"), double(s.statusLines) },
        { QStringLiteral("rpcLines"), double(s.rpcLines) }, { QStringLiteral("logMiB"), s.logMiB } };
}

void print(const Sample& s, int intervalSeconds)
{
    const qint64 seconds = qint64(s.refresh) * intervalSeconds;
    std::printf(
        "refresh %5d  at %02lld:%02lld  rss %7.1f MiB  heap %7.1f MiB  logs %7lld + %8lld lines %7.1f MiB\n",
        s.refresh, seconds / 3600, seconds / 60 % 60, s.rssMiB, s.heapMiB, qlonglong(s.statusLines),
        qlonglong(s.rpcLines), s.logMiB);
    std::fflush(stdout);
}

} // namespace

QJsonObject runSoak(const SoakOptions& options)
{
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(options.pins) });
    pointSettingsAtBenchNode(node.port());
    {
        QSettings settings = appSettings();
        settings.setValue(QStringLiteral("autoRefresh"), true);
        settings.setValue(QStringLiteral("refreshInterval"), options.intervalSeconds);
        settings.sync();
    }

    MainWindow window;
    window.resize(1400, 900);
    window.show();
    auto* client = window.findChild<IpfsClient*>();
    auto* countLabel = window.findChild<QLabel*>(QStringLiteral("countLabel"));
    auto* autoRefresh = window.findChild<QTimer*>(QStringLiteral("autoRefreshTimer"));
    if (!client || !countLabel || !autoRefresh || !autoRefresh->isActive())
        qFatal("the main window has no client, count line or running auto-refresh timer");

    // A refresh is over once its refs counts are in too: the window asks for those of the first
    // 500 recursive pins each time, and a real tick comes long after they are answered.
    const int refsPerRefresh = std::min(500, node.banner().value(QLatin1String("recursive")).toInt());
    int refsAnswered = 0;
    QObject::connect(client, &IpfsClient::refsReceived, &window, [&] { ++refsAnswered; });

    // The first refresh, every size and kind it asks for (later ones take them from the caches)
    // and its refs.
    QElapsedTimer firstLoad;
    firstLoad.start();
    const QString complete = QStringLiteral("Metadata loaded: %1/%1 CIDs").arg(options.pins);
    while ((!countLabel->text().contains(complete) || refsAnswered < refsPerRefresh)
        && firstLoad.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!countLabel->text().contains(complete) || refsAnswered < refsPerRefresh)
        qFatal("the first refresh did not complete: %s", qPrintable(countLabel->text()));

    const int refreshes = std::max(1, options.simulatedSeconds / std::max(1, options.intervalSeconds));
    const int refreshesPerHour = std::max(1, 3600 / options.intervalSeconds);
    const int refreshesPerDay = std::max(1, 24 * 3600 / options.intervalSeconds);
    QList<Sample> samples { sample(window, 0) };
    QJsonArray days;
    print(samples.constLast(), options.intervalSeconds);

    // Fast timers: the next tick comes 1 ms after a refresh is over instead of the interval later.
    QEventLoop loop;
    int done = 0;
    bool loading = false;
    const auto refreshOver = [&] {
        loading = false;
        ++done;
        if (options.clearLogs) {
            window.clearStatusLog();
            window.clearRpcLog();
        }
        samples.append(sample(window, done));
        if (done % refreshesPerHour == 0 || done == refreshes)
            print(samples.constLast(), options.intervalSeconds);
        if (done % refreshesPerDay == 0)
            days.append(toJson(samples.constLast()));
        if (done >= refreshes)
            loop.quit();
        else
            autoRefresh->start(1);
    };
    // Connected after the window's own slot, so the table holds the new rows when it runs.
    QObject::connect(client, &IpfsClient::pinsReceived, &window, [&] {
        autoRefresh->stop();
        loading = true;
        refsAnswered = 0;
    });
    QObject::connect(client, &IpfsClient::refsReceived, &window, [&] {
        if (loading && refsAnswered >= refsPerRefresh)
            refreshOver();
    });
    QElapsedTimer wall;
    wall.start();
    autoRefresh->start(1);
    loop.exec();
    const double wallSeconds = elapsedMs(wall) / 1000.0;

    // Let the last refresh's requests and the freeing of old rows finish before the last figure.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const Sample end = sample(window, done);

    // Heap growth per quarter of the day: a leak keeps growing, a cache levels off.
    QJsonArray quarters;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const Sample& from = samples.at(quarter * (samples.size() - 1) / 4);
        const Sample& to = samples.at((quarter + 1) * (samples.size() - 1) / 4);
        quarters.append(QJsonObject { { QStringLiteral("heapGrowthMiB"), to.heapMiB - from.heapMiB },
            { QStringLiteral("logGrowthMiB"), to.logMiB - from.logMiB },
            { QStringLiteral("rssGrowthMiB"), to.rssMiB - from.rssMiB } });
    }
    double peakHeap = 0;
    for (const Sample& s : std::as_const(samples))
        peakHeap = std::max(peakHeap, s.heapMiB);

    QJsonObject figures;
    figures.insert(QStringLiteral("pins"), options.pins);
    figures.insert(QStringLiteral("intervalSeconds"), options.intervalSeconds);
    figures.insert(QStringLiteral("refreshes"), done);
    figures.insert(QStringLiteral("clearLogs"), options.clearLogs);
    figures.insert(QStringLiteral("wallSeconds"), wallSeconds);
    figures.insert(QStringLiteral("start"), toJson(samples.constFirst()));
    figures.insert(QStringLiteral("end"), toJson(end));
    figures.insert(QStringLiteral("peakHeapMiB"), peakHeap);
    figures.insert(QStringLiteral("peakRssMiB"), procStatusMiB("VmHWM"));
    figures.insert(QStringLiteral("quarters"), quarters);
    figures.insert(QStringLiteral("days"), days);
    return figures;
}
