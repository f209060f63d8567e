#include "networkwindows.h"

#include "benchsupport.h"
#include "busynetwork.h"
#include "dhtstatsdialog.h"
#include "ipfsclient.h"
#include "networkstatsdialog.h"
#include "nodeprocess.h"
#include "swarmdialog.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QStringList>
#include <QTableWidget>
#include <QTextEdit>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

using namespace BusyNetwork;

struct Figure {
    double ms = std::numeric_limits<double>::max();
    double stallMs = std::numeric_limits<double>::max();
};

QString statusOf(QDialog* dialog)
{
    auto* label = dialog->findChild<QLabel*>(QStringLiteral("statusLabel"));
    return label ? label->text() : QString();
}

// Shows a new window of type T, which loads by itself, and waits until `loaded` holds; `complete`
// then checks that it shows all it was sent.
template <typename T>
Figure openUntilLoaded(IpfsClient& client, const std::function<bool(const QString&)>& loaded,
    const std::function<bool(QDialog*)>& complete)
{
    StallMeter stall;
    QElapsedTimer timer;
    stall.start();
    timer.start();
    auto* dialog = new T(&client, nullptr);
    dialog->resize(1100, 760);
    dialog->show();
    while (!loaded(statusOf(dialog)) && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    // Layout and the first paint of what was built.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    Figure figure;
    figure.ms = elapsedMs(timer);
    figure.stallMs = stall.stop();
    if (!loaded(statusOf(dialog)) || !complete(dialog))
        qFatal("window did not load: %s", qPrintable(statusOf(dialog)));
    delete dialog;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return figure;
}

void keepBest(Figure& best, const Figure& run)
{
    best.ms = std::min(best.ms, run.ms);
    best.stallMs = std::min(best.stallMs, run.stallMs);
}

QJsonObject toJson(const Figure& figure)
{
    return { { QStringLiteral("ms"), figure.ms }, { QStringLiteral("stallMs"), figure.stallMs } };
}

} // namespace

QJsonObject measureNetworkWindows(int runs)
{
    const NodeProcess node({ QStringLiteral("--busy-network") });

    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), node.port());

    Figure dht;
    Figure swarm;
    Figure network;
    for (int run = 0; run < runs; ++run) {
        keepBest(dht,
            openUntilLoaded<DhtStatsDialog>(
                client,
                [](const QString& status) {
                    return status == QLatin1String("Loaded from /api/v0/stats/dht");
                },
                [](QDialog* dialog) {
                    return dialog->findChildren<QTableWidget*>().size() == kDhts * kBuckets;
                }));
        keepBest(swarm,
            openUntilLoaded<SwarmDialog>(
                client,
                [](const QString& status) {
                    return status.startsWith(QLatin1String("Swarm diagnostics loaded at "));
                },
                [](QDialog* dialog) {
                    return dialog->findChild<QTableWidget*>(QStringLiteral("peersTable"))->rowCount()
                        == kSwarmPeers
                        && dialog->findChild<QTableWidget*>(QStringLiteral("knownAddrsTable"))->rowCount()
                        == kSwarmPeers;
                }));
        keepBest(network,
            openUntilLoaded<NetworkStatsDialog>(
                client,
                [](const QString& status) {
                    return status.startsWith(QLatin1String("Network diagnostics loaded at "));
                },
                [](QDialog* dialog) {
                    return dialog->findChild<QTextEdit*>()->toPlainText().contains(
                        QLatin1String("12D3KooWpeer4999"));
                }));
    }

    QJsonObject figures;
    figures.insert(QStringLiteral("dhtPeers"), kDhts * kBuckets * kPeersPerBucket);
    figures.insert(QStringLiteral("dhtBuckets"), kDhts * kBuckets);
    figures.insert(QStringLiteral("swarmPeers"), kSwarmPeers);
    figures.insert(QStringLiteral("dht"), toJson(dht));
    figures.insert(QStringLiteral("swarm"), toJson(swarm));
    figures.insert(QStringLiteral("network"), toJson(network));
    return figures;
}
