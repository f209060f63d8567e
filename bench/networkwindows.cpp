#include "networkwindows.h"

#include "benchnode.h"
#include "benchsupport.h"
#include "dhtstatsdialog.h"
#include "ipfsclient.h"
#include "networkfixtures.h"
#include "networkstatsdialog.h"
#include "pinfixture.h"
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

// A busy node: hundreds of DHT peers in dozens of buckets, thousands of swarm peers.
constexpr int kDhts = 2;
constexpr int kBuckets = 32;
constexpr int kPeersPerBucket = 20;
constexpr int kSwarmPeers = 5000;
constexpr int kAddrsPerPeer = 3;
constexpr int kWantlist = 200;

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
    using namespace NetworkFixtures;
    const PinFixture noPins = PinFixture::generate(0);
    BenchNode node(noPins);
    node.setFixedAnswer(QStringLiteral("/stats/dht"), dhtLinesBody(kDhts, kBuckets, kPeersPerBucket));
    node.setFixedAnswer(QStringLiteral("/swarm/peers"), toJson(swarmPeersReply(kSwarmPeers)));
    node.setFixedAnswer(QStringLiteral("/swarm/addrs"), toJson(swarmAddrsReply(kSwarmPeers, kAddrsPerPeer)));
    node.setFixedAnswer(QStringLiteral("/swarm/addrs/listen"),
        toJson(stringsReply({ QStringLiteral("/ip4/0.0.0.0/tcp/4001"), QStringLiteral("/ip6/::/tcp/4001"),
            QStringLiteral("/ip4/0.0.0.0/udp/4001/quic-v1"), QStringLiteral("/ip6/::/udp/4001/quic-v1") })));
    QStringList bootstrap;
    for (int i = 0; i < 8; ++i)
        bootstrap.append(QStringLiteral("/dnsaddr/bootstrap.libp2p.io/p2p/QmBootstrap%1").arg(i));
    node.setFixedAnswer(QStringLiteral("/bootstrap/list"), toJson(bootstrapReply(bootstrap)));
    node.setFixedAnswer(QStringLiteral("/bitswap/stat"), toJson(bitswapReply(kSwarmPeers, kWantlist)));
    if (!node.start())
        qFatal("bench node did not start");

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
