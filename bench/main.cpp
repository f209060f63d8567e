// vaxel-bench: times what a user meets against a node in another process (vaxel-bench-node, and a
// real Kubo when one is at hand): the pin road at 10,000 to 1,000,000 pins, the main window's
// refresh sorted by each column, "Not pinned", the add result box, the garbage collection report,
// the remote-pin follow-up and the network windows, each measurement in a fresh child process.
// "--soak" runs the refresh cycle for a simulated week instead; "--serve N --port P" only serves.

#include "applicationsetup.h"
#include "benchmeasure.h"
#include "benchreport.h"
#include "benchsupport.h"
#include "kuboroad.h"
#include "networkwindows.h"
#include "pinmodel.h"
#include "soak.h"
#include "windowsteps.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

const QStringList kSections { QStringLiteral("pins"), QStringLiteral("metadata"), QStringLiteral("kubo"),
    QStringLiteral("sorted"), QStringLiteral("notpinned"), QStringLiteral("add"), QStringLiteral("gc"),
    QStringLiteral("remote"), QStringLiteral("network") };

void useScratchSettings(const QTemporaryDir& folder)
{
    // Never the user's real store: the window rows run the main window, which saves settings.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

QList<int> counts(const QString& list)
{
    QList<int> values;
    for (const QString& item : list.split(u',', Qt::SkipEmptyParts)) {
        if (item.trimmed().toInt() > 0)
            values.append(item.trimmed().toInt());
    }
    return values;
}

QJsonObject runTask(const QString& task, int count, const QStringList& more = {})
{
    return runChild(
        QStringList { QStringLiteral("--task"), task, QStringLiteral("--count"), QString::number(count) }
        + more);
}

void printJson(const QJsonObject& figures, QJsonDocument::JsonFormat format)
{
    std::printf("%s\n", QJsonDocument(figures).toJson(format).constData());
}

// Serves by hand: the bench node in the foreground, until it is stopped.
int serve(const QString& pins, const QString& port)
{
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedChannels);
    node.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vaxel-bench-node"),
        { QStringLiteral("--pins"), pins, QStringLiteral("--port"), port,
            QStringLiteral("--exit-with-stdin") });
    node.waitForFinished(-1);
    return node.exitCode();
}

} // namespace

int main(int argc, char* argv[])
{
    // As the application does (src/main.cpp).
    returnLargeBlocksToSystem();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vaxel-bench"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vaxel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times Vaxel against a node in another process."));
    parser.addHelpOption();
    const auto valued = [](const char* name, const char* description, const char* fallback) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
            QStringLiteral("value"), QString::fromLatin1(fallback));
    };
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print the figures as JSON."));
    const QCommandLineOption onlyOption = valued("only",
        "Sections to run, comma separated: pins, metadata, kubo, sorted, notpinned, add, gc, remote, "
        "network.",
        "pins,metadata,kubo,sorted,notpinned,add,gc,remote,network");
    const QCommandLineOption sizesOption
        = valued("sizes", "Pin counts of the pin road.", "10000,100000,1000000");
    const QCommandLineOption runsOption
        = valued("runs", "Runs per figure of the pin road; the best is kept.", "3");
    const QCommandLineOption metadataOption = valued("metadata-pins", "Pins for the metadata road.", "10000");
    const QCommandLineOption kuboPinsOption
        = valued("kubo-pins", "Pins the real Kubo is seeded with.", "100000");
    const QCommandLineOption kuboScriptOption
        = valued("kubo-script", "The script that starts a real Kubo.", VAXEL_BENCH_KUBO_SCRIPT);
    const QCommandLineOption sortedSizesOption
        = valued("sorted-sizes", "Rows of the refreshes sorted by each column.", "200000,1000000");
    const QCommandLineOption sortedWatchOption
        = valued("sorted-watch", "Seconds each sorted refresh is watched after its table is in.", "5");
    const QCommandLineOption localBlocksOption
        = valued("local-blocks", "Local blocks for \"Not pinned\".", "1000000");
    const QCommandLineOption addEntriesOption
        = valued("add-entries", "Entries of the add result box.", "100000");
    const QCommandLineOption gcCidsOption
        = valued("gc-cids", "CIDs of the garbage collection report.", "500000");
    const QCommandLineOption remoteCidsOption
        = valued("remote-cids", "CIDs of the remote-pin follow-up.", "200");
    const QCommandLineOption serveOption
        = valued("serve", "Only serve this many pins, to try the application.", "");
    const QCommandLineOption portOption = valued("port", "Port for --serve.", "5001");
    const QCommandLineOption taskOption = valued("task", "Internal: one measurement in this process.", "");
    const QCommandLineOption countOption = valued("count", "Internal: the size of the task.", "0");
    const QCommandLineOption columnOption = valued("column", "Internal: the sort column of the task.", "0");
    const QCommandLineOption soakOption(QStringLiteral("soak"),
        QStringLiteral("Run the refresh cycle with auto-refresh for a simulated week instead."));
    const QCommandLineOption soakPinsOption = valued("soak-pins", "Pins of the soak's node.", "10000");
    const QCommandLineOption soakIntervalOption
        = valued("soak-interval", "Auto-refresh interval being simulated, in seconds.", "30");
    const QCommandLineOption soakHoursOption = valued("soak-hours", "Simulated hours (a week: 168).", "168");
    const QCommandLineOption soakClearLogsOption(QStringLiteral("soak-clear-logs"),
        QStringLiteral("Empty both logs after every refresh of the soak."));
    for (const QCommandLineOption& option :
        { jsonOption, onlyOption, sizesOption, runsOption, metadataOption, kuboPinsOption, kuboScriptOption,
            sortedSizesOption, sortedWatchOption, localBlocksOption, addEntriesOption, gcCidsOption,
            remoteCidsOption, serveOption, portOption, taskOption, countOption, columnOption, soakOption,
            soakPinsOption, soakIntervalOption, soakHoursOption, soakClearLogsOption })
        parser.addOption(option);
    parser.process(app);

    if (parser.isSet(serveOption))
        return serve(parser.value(serveOption), parser.value(portOption));

    QTemporaryDir scratch;
    useScratchSettings(scratch);
    const int runs = qMax(1, parser.value(runsOption).toInt());

    if (parser.isSet(taskOption)) {
        const QString task = parser.value(taskOption);
        const int count = parser.value(countOption).toInt();
        QJsonObject figures;
        if (task == u"pins")
            figures = measurePinRoad(count, runs);
        else if (task == u"window")
            figures = measureWindowRoad(count, false);
        else if (task == u"metadata")
            figures = measureWindowRoad(count, true);
        else if (task == u"kubo")
            figures = measureKuboRoad(count, runs, parser.value(kuboScriptOption));
        else if (task == u"sorted")
            figures = measureSortedRefresh(
                count, parser.value(columnOption).toInt(), parser.value(sortedWatchOption).toInt());
        else if (task == u"notpinned")
            figures = measureNotPinned(count);
        else if (task == u"add")
            figures = measureAddResult(count);
        else if (task == u"gc")
            figures = measureGcReport(count);
        else if (task == u"remote")
            figures = measureRemoteFollowUp(count);
        else if (task == u"network")
            figures = measureNetworkWindows(runs);
        else
            qFatal("unknown task %s", qPrintable(task));
        printJson(figures, QJsonDocument::Compact);
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
            printJson(figures, QJsonDocument::Indented);
        else
            printSoak(figures);
        return 0;
    }

    const QStringList sections = parser.value(onlyOption).split(u',', Qt::SkipEmptyParts);
    for (const QString& section : sections) {
        if (!kSections.contains(section.trimmed()))
            qFatal("unknown section %s", qPrintable(section));
    }
    const auto wanted = [&](const char* section) { return sections.contains(QLatin1String(section)); };
    const QString runsText = QString::number(runs);
    const QStringList runsArgument { QStringLiteral("--runs"), runsText };
    const auto progress
        = [](const QString& what) { std::fprintf(stderr, "vaxel-bench: %s\n", qPrintable(what)); };

    QJsonArray sizes;
    if (wanted("pins")) {
        for (const int count : counts(parser.value(sizesOption))) {
            progress(QStringLiteral("pin road, %1 pins").arg(count));
            QJsonObject figures = runTask(QStringLiteral("pins"), count, runsArgument);
            const QJsonObject window = runTask(QStringLiteral("window"), count);
            if (figures.isEmpty() || window.isEmpty())
                return 1;
            figures.insert(QStringLiteral("windowTableMs"), window.value(QLatin1String("windowTableMs")));
            figures.insert(QStringLiteral("windowStallMs"), window.value(QLatin1String("windowStallMs")));
            figures.insert(QStringLiteral("windowPeakMiB"), window.value(QLatin1String("peakMiB")));
            sizes.append(figures);
        }
    }
    QJsonObject metadata;
    if (wanted("metadata") && parser.value(metadataOption).toInt() > 0) {
        progress(QStringLiteral("metadata road"));
        metadata = runTask(QStringLiteral("metadata"), parser.value(metadataOption).toInt());
        if (metadata.isEmpty())
            return 1;
    }
    QJsonObject kubo;
    if (wanted("kubo") && parser.value(kuboPinsOption).toInt() > 0) {
        progress(QStringLiteral("real Kubo, seeding and loading %1 pins").arg(parser.value(kuboPinsOption)));
        kubo = runTask(QStringLiteral("kubo"), parser.value(kuboPinsOption).toInt(),
            runsArgument + QStringList { QStringLiteral("--kubo-script"), parser.value(kuboScriptOption) });
        if (kubo.isEmpty())
            return 1;
    }
    QJsonArray sorted;
    if (wanted("sorted")) {
        for (const int count : counts(parser.value(sortedSizesOption))) {
            for (int column = 0; column < PinModel::ColumnCount; ++column) {
                progress(QStringLiteral("refresh sorted by column %1, %2 rows").arg(column).arg(count));
                const QJsonObject figures = runTask(QStringLiteral("sorted"), count,
                    { QStringLiteral("--column"), QString::number(column), QStringLiteral("--sorted-watch"),
                        parser.value(sortedWatchOption) });
                if (figures.isEmpty())
                    return 1;
                sorted.append(figures);
            }
        }
    }
    QJsonObject steps;
    const struct {
        const char* section;
        const char* key;
        const QCommandLineOption& size;
    } stepRuns[]
        = { { "notpinned", "notPinned", localBlocksOption }, { "add", "addResult", addEntriesOption },
              { "gc", "gcReport", gcCidsOption }, { "remote", "remoteFollowUp", remoteCidsOption } };
    for (const auto& step : stepRuns) {
        const int count = parser.value(step.size).toInt();
        if (!wanted(step.section) || count <= 0)
            continue;
        progress(QStringLiteral("%1, %2").arg(QLatin1String(step.key)).arg(count));
        const QJsonObject figures = runTask(QString::fromLatin1(step.section), count);
        if (figures.isEmpty())
            return 1;
        steps.insert(QLatin1String(step.key), figures);
    }
    QJsonObject networkWindows;
    if (wanted("network")) {
        progress(QStringLiteral("network windows"));
        networkWindows = runTask(QStringLiteral("network"), 0, runsArgument);
        if (networkWindows.isEmpty())
            return 1;
    }

    if (parser.isSet(jsonOption)) {
        QJsonObject all;
        all.insert(QStringLiteral("filter"), QStringLiteral("recursive+direct"));
        all.insert(QStringLiteral("qt"), QString::fromLatin1(qVersion()));
        all.insert(QStringLiteral("cpus"), QThread::idealThreadCount());
        all.insert(QStringLiteral("sizes"), sizes);
        all.insert(QStringLiteral("metadata"), metadata);
        all.insert(QStringLiteral("kubo"), kubo);
        all.insert(QStringLiteral("sortedRefreshes"), sorted);
        all.insert(QStringLiteral("windowSteps"), steps);
        all.insert(QStringLiteral("networkWindows"), networkWindows);
        printJson(all, QJsonDocument::Indented);
        return 0;
    }
    std::printf(
        "Vaxel %s, filter \"recursive+direct\", Qt %s, %d CPUs, node in another process, best of %d runs\n",
        VAXEL_VERSION, qVersion(), QThread::idealThreadCount(), runs);
    std::fflush(stdout);
    if (!sizes.isEmpty() || !metadata.isEmpty()) {
        std::printf("\n");
        std::fflush(stdout);
        printPinRoad(sizes, metadata);
    }
    if (!kubo.isEmpty())
        printKuboRoad(kubo);
    printSortedRefreshes(sorted);
    printWindowSteps(steps);
    if (!networkWindows.isEmpty())
        printNetworkWindows(networkWindows);
    return 0;
}
