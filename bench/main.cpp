// vaxel-bench: times the pin road at 10,000, 100,000 and 1,000,000 pins against a node of its
// own, each size in a fresh child process, and the network windows on a busy node's answers.
// "--serve N --port P" only serves N pins, to try the application by hand; "--soak" runs the
// refresh cycle for a simulated day and reports memory.

#include "benchmeasure.h"
#include "benchnode.h"
#include "networkwindows.h"
#include "pinfixture.h"
#include "resultwindows.h"
#include "soak.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <functional>
#include <utility>

namespace {

struct Target {
    const char* key;
    double limit;
};

QJsonObject runChild(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        std::fprintf(stderr, "vaxel-bench: child %s failed\n", qPrintable(arguments.join(u' ')));
        return {};
    }
    return QJsonDocument::fromJson(child.readAllStandardOutput()).object();
}

QString number(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

QString grouped(int value)
{
    QLocale english(QLocale::English);
    return english.toString(value);
}

void printTable(const QJsonArray& sizes, const QJsonObject& metadata)
{
    QTextStream out(stdout);
    struct Row {
        QString label;
        std::function<QString(const QJsonObject&)> cell;
        QString target;
    };
    const auto ms = [](const char* key) {
        return [key](const QJsonObject& f) {
            return number(f.value(QLatin1String(key)).toDouble(), 0) + QStringLiteral(" ms");
        };
    };
    const QList<Row> rows {
        { QStringLiteral("pin list body"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("bodyMiB")).toDouble(), 1) + QStringLiteral(" MiB");
            },
            QString() },
        { QStringLiteral("load (fetchPins -> pinsReceived)"), ms("loadMs"),
            QStringLiteral("2000 ms, 10x raw") },
        { QStringLiteral("raw transfer (floor)"), ms("rawMs"), QString() },
        { QStringLiteral("load / raw"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("loadMs")).toDouble()
                               / f.value(QLatin1String("rawMs")).toDouble(),
                           1)
                    + u'x';
            },
            QStringLiteral("10x") },
        { QStringLiteral("table (setPins -> sorted proxy)"), ms("tableMs"), QStringLiteral("1000 ms") },
        { QStringLiteral("table refresh (over a full table)"), ms("tableRefreshMs"), QString() },
        { QStringLiteral("search (setFilterFixedString)"), ms("searchMs"), QStringLiteral("150 ms") },
        { QStringLiteral("  rows matched"),
            [](const QJsonObject& f) { return grouped(f.value(QLatin1String("searchMatches")).toInt()); },
            QString() },
        { QStringLiteral("search cleared"), ms("searchClearMs"), QString() },
        { QStringLiteral("longest GUI stall during load"), ms("stallMs"), QStringLiteral("50 ms") },
        { QStringLiteral("  worst of all runs"), ms("worstStallMs"), QString() },
        { QStringLiteral("peak memory (VmHWM)"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("peakMiB")).toDouble(), 0) + QStringLiteral(" MiB");
            },
            QStringLiteral("600 MiB") },
        { QStringLiteral("  after a refresh"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("peakAfterRefreshMiB")).toDouble(), 0)
                    + QStringLiteral(" MiB");
            },
            QString() },
        { QStringLiteral("window: refresh to loaded table"), ms("windowTableMs"), QString() },
        { QStringLiteral("window: longest stall, load + 1 s"), ms("windowStallMs"), QString() },
        { QStringLiteral("window: peak memory"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("windowPeakMiB")).toDouble(), 0) + QStringLiteral(" MiB");
            },
            QString() },
        { QStringLiteral("  of it fixture and node"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("baselineMiB")).toDouble(), 0) + QStringLiteral(" MiB");
            },
            QString() },
    };

    const int labelWidth = 34;
    const int cellWidth = 14;
    out << QStringLiteral("%1").arg(QStringLiteral("pins"), -labelWidth);
    for (const QJsonValue& size : sizes)
        out << QStringLiteral("%1").arg(
            grouped(size.toObject().value(QLatin1String("pins")).toInt()), cellWidth);
    out << QStringLiteral("   target at 1,000,000\n");
    for (const Row& row : rows) {
        out << QStringLiteral("%1").arg(row.label, -labelWidth);
        for (const QJsonValue& size : sizes)
            out << QStringLiteral("%1").arg(row.cell(size.toObject()), cellWidth);
        out << QStringLiteral("   ") << row.target << u'\n';
    }
    if (!metadata.isEmpty()) {
        out << QStringLiteral(
            "\nmetadata for %1 pins (main window: %2 refs, %3 sizes, %4 kinds): %5 ms   target 10000 ms\n")
                   .arg(grouped(metadata.value(QLatin1String("pins")).toInt()))
                   .arg(metadata.value(QLatin1String("refs")).toInt())
                   .arg(metadata.value(QLatin1String("sizes")).toInt())
                   .arg(metadata.value(QLatin1String("kinds")).toInt())
                   .arg(number(metadata.value(QLatin1String("metadataMs")).toDouble(), 0));
        out << QStringLiteral("count line: ") << metadata.value(QLatin1String("countLine")).toString()
            << u'\n';
    }
}

void printNetworkWindows(const QJsonObject& windows)
{
    QTextStream out(stdout);
    const auto line = [&](const QString& label, const char* key) {
        const QJsonObject figure = windows.value(QLatin1String(key)).toObject();
        out << QStringLiteral("%1%2 ms   longest stall %3 ms   target 1000 ms\n")
                   .arg(label, -58)
                   .arg(number(figure.value(QLatin1String("ms")).toDouble(), 0), 6)
                   .arg(number(figure.value(QLatin1String("stallMs")).toDouble(), 0), 5);
    };
    out << QStringLiteral("\nnetwork windows, from show to loaded:\n");
    line(QStringLiteral("DHT stats: %1 peers in %2 buckets")
             .arg(grouped(windows.value(QLatin1String("dhtPeers")).toInt()))
             .arg(windows.value(QLatin1String("dhtBuckets")).toInt()),
        "dht");
    line(QStringLiteral("swarm: %1 peers with their addresses")
             .arg(grouped(windows.value(QLatin1String("swarmPeers")).toInt())),
        "swarm");
    line(QStringLiteral("network stats snapshot: the same peers and DHTs"), "network");
}

void printSoak(const QJsonObject& soak)
{
    const QJsonObject start = soak.value(QLatin1String("start")).toObject();
    const QJsonObject end = soak.value(QLatin1String("end")).toObject();
    std::printf("\nsoak: %d pins, %d refreshes (every %d s for a day) in %.0f s%s\n",
        soak.value(QLatin1String("pins")).toInt(), soak.value(QLatin1String("refreshes")).toInt(),
        soak.value(QLatin1String("intervalSeconds")).toInt(),
        soak.value(QLatin1String("wallSeconds")).toDouble(),
        soak.value(QLatin1String("clearLogs")).toBool() ? ", logs emptied after every refresh" : "");
    for (const auto& [label, sample] : { std::pair { "start", start }, std::pair { "end", end } }) {
        std::printf("  %-5s rss %.1f MiB, heap in use %.1f MiB, logs %d + %d lines (%.1f MiB)\n", label,
            sample.value(QLatin1String("rssMiB")).toDouble(),
            sample.value(QLatin1String("heapMiB")).toDouble(),
            sample.value(QLatin1String("statusLines")).toInt(),
            sample.value(QLatin1String("rpcLines")).toInt(),
            sample.value(QLatin1String("logMiB")).toDouble());
    }
    std::printf("  peak rss %.1f MiB, peak heap in use %.1f MiB\n",
        soak.value(QLatin1String("peakRssMiB")).toDouble(),
        soak.value(QLatin1String("peakHeapMiB")).toDouble());
    const QJsonArray quarters = soak.value(QLatin1String("quarters")).toArray();
    for (int i = 0; i < quarters.size(); ++i) {
        const QJsonObject quarter = quarters.at(i).toObject();
        std::printf("  quarter %d: heap %+.1f MiB, of which logs %+.1f MiB; rss %+.1f MiB\n", i + 1,
            quarter.value(QLatin1String("heapGrowthMiB")).toDouble(),
            quarter.value(QLatin1String("logGrowthMiB")).toDouble(),
            quarter.value(QLatin1String("rssGrowthMiB")).toDouble());
    }
}

void useScratchSettings(const QTemporaryDir& folder)
{
    // Never the user's real store: the metadata road runs the main window, which saves settings.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vaxel-bench"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vaxel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times Vaxel's pin road against a generated node."));
    parser.addHelpOption();
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print the figures as JSON."));
    const QCommandLineOption sizesOption(QStringLiteral("sizes"),
        QStringLiteral("Pin counts to measure, comma separated."), QStringLiteral("list"),
        QStringLiteral("10000,100000,1000000"));
    const QCommandLineOption metadataOption(QStringLiteral("metadata-pins"),
        QStringLiteral("Pins for the metadata road (0 skips it)."), QStringLiteral("count"),
        QStringLiteral("10000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"),
        QStringLiteral("Runs per figure; the best is kept."), QStringLiteral("count"), QStringLiteral("3"));
    const QCommandLineOption serveOption(
        QStringLiteral("serve"), QStringLiteral("Only serve this many pins."), QStringLiteral("count"));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port for --serve (default 5001)."), QStringLiteral("port"), QStringLiteral("5001"));
    const QCommandLineOption childOption(
        QStringLiteral("child"), QStringLiteral("Internal: measure one size."), QStringLiteral("count"));
    const QCommandLineOption metadataChildOption(QStringLiteral("metadata-child"),
        QStringLiteral("Internal: measure the metadata road."), QStringLiteral("count"));
    const QCommandLineOption windowChildOption(QStringLiteral("window-child"),
        QStringLiteral("Internal: measure the main window's first refresh."), QStringLiteral("count"));
    const QCommandLineOption networkWindowsOption(
        QStringLiteral("network-windows"), QStringLiteral("Only time the network windows."));
    const QCommandLineOption networkChildOption(
        QStringLiteral("network-windows-child"), QStringLiteral("Internal: time the network windows."));
    const QCommandLineOption resultWindowsOption(QStringLiteral("result-windows"),
        QStringLiteral("Only time the add result box, the GC report, colliding download names and the "
                       "remote-pin follow-up, as JSON."));
    const QCommandLineOption soakOption(QStringLiteral("soak"),
        QStringLiteral("Run the refresh cycle with auto-refresh for a simulated day."));
    const QCommandLineOption soakPinsOption(QStringLiteral("soak-pins"),
        QStringLiteral("Pins of the soak's node (default 10000)."), QStringLiteral("count"),
        QStringLiteral("10000"));
    const QCommandLineOption soakIntervalOption(QStringLiteral("soak-interval"),
        QStringLiteral("Auto-refresh interval being simulated, in seconds (default 30)."),
        QStringLiteral("seconds"), QStringLiteral("30"));
    const QCommandLineOption soakHoursOption(QStringLiteral("soak-hours"),
        QStringLiteral("Simulated hours (default 24)."), QStringLiteral("hours"), QStringLiteral("24"));
    const QCommandLineOption soakClearLogsOption(QStringLiteral("soak-clear-logs"),
        QStringLiteral("Empty both logs after every refresh of the soak."));
    for (const QCommandLineOption& option :
        { jsonOption, sizesOption, metadataOption, runsOption, serveOption, portOption, childOption,
            metadataChildOption, windowChildOption, networkWindowsOption, networkChildOption,
            resultWindowsOption, soakOption,
            soakPinsOption, soakIntervalOption, soakHoursOption, soakClearLogsOption })
        parser.addOption(option);
    parser.process(app);

    if (parser.isSet(serveOption)) {
        const int count = parser.value(serveOption).toInt();
        const PinFixture fixture = PinFixture::generate(count);
        BenchNode node(fixture);
        if (!node.start(quint16(parser.value(portOption).toUInt()))) {
            std::fprintf(
                stderr, "vaxel-bench: cannot listen on port %s\n", qPrintable(parser.value(portOption)));
            return 1;
        }
        std::printf("serving %d pins (%d recursive, %d direct) on http://127.0.0.1:%u/api/v0\n", count,
            fixture.recursiveCount, fixture.directCount, unsigned(node.port()));
        std::fflush(stdout);
        return app.exec();
    }

    QTemporaryDir scratch;
    useScratchSettings(scratch);
    const int runs = qMax(1, parser.value(runsOption).toInt());

    if (parser.isSet(childOption)) {
        const QJsonObject figures = measurePinRoad(parser.value(childOption).toInt(), runs);
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    if (parser.isSet(windowChildOption)) {
        const QJsonObject figures = measureWindowRoad(parser.value(windowChildOption).toInt(), false);
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    if (parser.isSet(networkChildOption)) {
        const QJsonObject figures = measureNetworkWindows(runs);
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    if (parser.isSet(resultWindowsOption)) {
        const QJsonObject figures { { QStringLiteral("addResultBox40k"), measureAddResultBox(40000) },
            { QStringLiteral("addResultBox100k"), measureAddResultBox(100000) },
            { QStringLiteral("gcReport500k"), measureGcReport(500000) },
            { QStringLiteral("collidingNames8k"), measureCollidingNames(8000) },
            { QStringLiteral("remotePinFollowUp200"), measureRemotePinFollowUp(200, 1000) } };
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Indented).constData());
        return 0;
    }
    if (parser.isSet(soakOption)) {
        SoakOptions options;
        options.pins = parser.value(soakPinsOption).toInt();
        options.intervalSeconds = qMax(1, parser.value(soakIntervalOption).toInt());
        options.simulatedSeconds = int(parser.value(soakHoursOption).toDouble() * 3600);
        options.clearLogs = parser.isSet(soakClearLogsOption);
        const QJsonObject figures = runSoak(options);
        if (parser.isSet(jsonOption))
            std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Indented).constData());
        else
            printSoak(figures);
        return 0;
    }
    if (parser.isSet(networkWindowsOption)) {
        const QJsonObject figures = runChild(
            { QStringLiteral("--network-windows-child"), QStringLiteral("--runs"), QString::number(runs) });
        if (figures.isEmpty())
            return 1;
        printNetworkWindows(figures);
        return 0;
    }
    if (parser.isSet(metadataChildOption)) {
        const QJsonObject figures = measureWindowRoad(parser.value(metadataChildOption).toInt(), true);
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        return 0;
    }

    QJsonArray sizes;
    const QStringList counts = parser.value(sizesOption).split(u',', Qt::SkipEmptyParts);
    for (const QString& count : counts) {
        QJsonObject figures = runChild(
            { QStringLiteral("--child"), count.trimmed(), QStringLiteral("--runs"), QString::number(runs) });
        const QJsonObject window = runChild({ QStringLiteral("--window-child"), count.trimmed() });
        if (figures.isEmpty() || window.isEmpty())
            return 1;
        figures.insert(QStringLiteral("windowTableMs"), window.value(QLatin1String("windowTableMs")));
        figures.insert(QStringLiteral("windowStallMs"), window.value(QLatin1String("windowStallMs")));
        figures.insert(QStringLiteral("windowPeakMiB"), window.value(QLatin1String("peakMiB")));
        sizes.append(figures);
    }
    QJsonObject metadata;
    const int metadataPins = parser.value(metadataOption).toInt();
    if (metadataPins > 0) {
        metadata = runChild({ QStringLiteral("--metadata-child"), QString::number(metadataPins) });
        if (metadata.isEmpty())
            return 1;
    }

    const QJsonObject networkWindows = runChild(
        { QStringLiteral("--network-windows-child"), QStringLiteral("--runs"), QString::number(runs) });
    if (networkWindows.isEmpty())
        return 1;

    if (parser.isSet(jsonOption)) {
        QJsonObject all;
        all.insert(QStringLiteral("networkWindows"), networkWindows);
        all.insert(QStringLiteral("filter"), QStringLiteral("recursive+direct"));
        all.insert(QStringLiteral("qt"), QString::fromLatin1(qVersion()));
        all.insert(QStringLiteral("cpus"), QThread::idealThreadCount());
        all.insert(QStringLiteral("sizes"), sizes);
        all.insert(QStringLiteral("metadata"), metadata);
        std::printf("%s\n", QJsonDocument(all).toJson(QJsonDocument::Indented).constData());
        return 0;
    }
    std::printf("Vaxel %s, filter \"recursive+direct\", Qt %s, %d CPUs, best of %d runs\n\n", VAXEL_VERSION,
        qVersion(), QThread::idealThreadCount(), runs);
    std::fflush(stdout);
    printTable(sizes, metadata);
    printNetworkWindows(networkWindows);
    return 0;
}
