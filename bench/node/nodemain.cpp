// vaxel-bench-node: the benchmark's node, a process of its own as a real node is. Serves generated
// pins on 127.0.0.1 and prints one JSON line (its port and what it holds) once it listens; also to
// try the application by hand: `vaxel-bench-node --pins 1000000 --port 5001`.

#include "benchnode.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vaxel-bench-node"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves generated pins as a Kubo node would."));
    parser.addHelpOption();
    const auto number = [](const char* name, const char* description, const char* fallback) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
            QStringLiteral("n"), QString::fromLatin1(fallback));
    };
    const QCommandLineOption pins = number("pins", "Pins to serve.", "0");
    const QCommandLineOption port = number("port", "Port on 127.0.0.1 (0 picks a free one).", "0");
    const QCommandLineOption localBlocks
        = number("local-blocks", "Blocks \"/refs/local\" lists (0: the pins and one in ten more).", "0");
    const QCommandLineOption indirect = number("indirect", "Indirect pins below the recursive ones.", "0");
    const QCommandLineOption gcCids = number("gc-cids", "CIDs a garbage collection removes.", "0");
    const QCommandLineOption addEntries = number("add-entries", "Entries an upload is answered with.", "1");
    const QCommandLineOption serviceDelay
        = number("service-delay", "Milliseconds the remote pinning service takes per request.", "0");
    const QCommandLineOption pinnedAfter
        = number("remote-pinned-after", "Milliseconds a remote pin stays queued.", "10000");
    const QCommandLineOption busyNetwork(
        QStringLiteral("busy-network"), QStringLiteral("Answer DHT, swarm and bitswap as a busy node."));
    const QCommandLineOption exitWithStdin(QStringLiteral("exit-with-stdin"),
        QStringLiteral("Stop when standard input closes (the benchmark that started it has gone)."));
    for (const QCommandLineOption& option : { pins, port, localBlocks, indirect, gcCids, addEntries,
             serviceDelay, pinnedAfter, busyNetwork, exitWithStdin })
        parser.addOption(option);
    parser.process(app);

    NodeScenario scenario;
    scenario.pins = parser.value(pins).toInt();
    scenario.localBlocks = parser.value(localBlocks).toInt();
    scenario.indirectPins = parser.value(indirect).toInt();
    scenario.gcCids = parser.value(gcCids).toInt();
    scenario.addEntries = parser.value(addEntries).toInt();
    scenario.serviceDelayMs = parser.value(serviceDelay).toInt();
    scenario.remotePinnedAfterMs = parser.value(pinnedAfter).toInt();
    scenario.busyNetwork = parser.isSet(busyNetwork);

    BenchNode node(scenario);
    if (!node.start(quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "vaxel-bench-node: cannot listen on port %s\n", qPrintable(parser.value(port)));
        return 1;
    }
    QSocketNotifier stdinWatch(STDIN_FILENO, QSocketNotifier::Read);
    stdinWatch.setEnabled(parser.isSet(exitWithStdin));
    QObject::connect(&stdinWatch, &QSocketNotifier::activated, &app, [&stdinWatch] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            stdinWatch.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    std::printf("%s\n", QJsonDocument(node.banner()).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return app.exec();
}
