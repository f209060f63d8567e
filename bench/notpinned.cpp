#include "windowsteps.h"

#include "appsettings.h"
#include "benchsupport.h"
#include "benchwindow.h"
#include "ipfsclient.h"
#include "nodeprocess.h"

#include <QAbstractItemModel>
#include <QPushButton>
#include <QSettings>
#include <QTableView>

namespace {

constexpr int kPins = 100000;
constexpr double kIndirectShare = 0.6;

} // namespace

QJsonObject measureNotPinned(int localBlocks)
{
    const int indirect = int(localBlocks * kIndirectShare);
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(kPins), QStringLiteral("--indirect"),
        QString::number(indirect), QStringLiteral("--local-blocks"), QString::number(localBlocks) });
    pointSettingsAtBenchNode(node.port());
    {
        // The window opens on "Not pinned": its first refresh is the one measured.
        QSettings settings = appSettings();
        settings.setValue(QStringLiteral("contentMode"), QStringLiteral("unpinned"));
        settings.sync();
    }
    // Opening on "Not pinned" loads it from the window's construction on.
    QElapsedTimer sinceOpening;
    sinceOpening.start();
    BenchWindow bench;
    if (!bench.waitForLoads(1, 300000))
        qFatal("\"Not pinned\" did not load");
    const double firstMs = elapsedMs(sinceOpening);

    // A refresh of it, over the full table, is the step measured.
    StallMeter stall;
    QElapsedTimer sinceRefresh;
    stall.start();
    sinceRefresh.start();
    bench.refreshButton->click();
    if (!bench.waitForLoads(2, 300000))
        qFatal("\"Not pinned\" did not load again");
    const double ms = elapsedMs(sinceRefresh);
    // The table's first paint and a second of what follows belong to the step.
    QElapsedTimer after;
    after.start();
    waitUntil([&] { return after.elapsed() >= 1000; }, 2000);
    const double stallMs = stall.stop();

    QJsonObject figures;
    figures.insert(QStringLiteral("localBlocks"), localBlocks);
    figures.insert(QStringLiteral("pins"), kPins);
    figures.insert(QStringLiteral("indirect"), indirect);
    figures.insert(QStringLiteral("firstMs"), firstMs);
    figures.insert(QStringLiteral("ms"), ms);
    figures.insert(QStringLiteral("stallMs"), stallMs);
    figures.insert(QStringLiteral("rows"), bench.table->model()->rowCount());
    // Every block the node holds that no pin of any type keeps.
    figures.insert(QStringLiteral("unpinnedBlocks"), localBlocks - kPins - indirect);
    figures.insert(QStringLiteral("peakMiB"), procStatusMiB("VmHWM"));
    return figures;
}
