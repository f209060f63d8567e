// vaxel-bench: times the pin road at 10,000, 100,000 and 1,000,000 pins against a node of its
// own, each size in a fresh child process. "--serve N --port P" only serves N pins, to try the
// application by hand.

#include "benchmeasure.h"
#include "benchnode.h"
#include "pinfixture.h"

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
        return [key](const QJsonObject& f) { return number(f.value(QLatin1String(key)).toDouble(), 0) + QStringLiteral(" ms"); };
    };
    const QList<Row> rows {
        { QStringLiteral("pin list body"),
            [](const QJsonObject& f) { return number(f.value(QLatin1String("bodyMiB")).toDouble(), 1) + QStringLiteral(" MiB"); },
            QString() },
        { QStringLiteral("load (fetchPins -> pinsReceived)"), ms("loadMs"), QStringLiteral("2000 ms, 10x raw") },
        { QStringLiteral("raw transfer (floor)"), ms("rawMs"), QString() },
        { QStringLiteral("load / raw"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("loadMs")).toDouble() / f.value(QLatin1String("rawMs")).toDouble(), 1)
                    + u'x';
            },
            QStringLiteral("10x") },
        { QStringLiteral("table (setPins -> sorted proxy)"), ms("tableMs"), QStringLiteral("1000 ms") },
        { QStringLiteral("table refresh (over a full table)"), ms("tableRefreshMs"), QString() },
        { QStringLiteral("search (setFilterFixedString)"), ms("searchMs"), QStringLiteral("150 ms") },
        { QStringLiteral("  rows matched"),
            [](const QJsonObject& f) { return grouped(f.value(QLatin1String("searchMatches")).toInt()); }, QString() },
        { QStringLiteral("search cleared"), ms("searchClearMs"), QString() },
        { QStringLiteral("longest GUI stall during load"), ms("stallMs"), QStringLiteral("50 ms") },
        { QStringLiteral("  worst of all runs"), ms("worstStallMs"), QString() },
        { QStringLiteral("peak memory (VmHWM)"),
            [](const QJsonObject& f) { return number(f.value(QLatin1String("peakMiB")).toDouble(), 0) + QStringLiteral(" MiB"); },
            QStringLiteral("600 MiB") },
        { QStringLiteral("  after a refresh"),
            [](const QJsonObject& f) { return number(f.value(QLatin1String("peakAfterRefreshMiB")).toDouble(), 0) + QStringLiteral(" MiB"); },
            QString() },
        { QStringLiteral("window: refresh to loaded table"), ms("windowTableMs"), QString() },
        { QStringLiteral("window: longest stall, load + 1 s"), ms("windowStallMs"), QString() },
        { QStringLiteral("window: peak memory"),
            [](const QJsonObject& f) { return number(f.value(QLatin1String("windowPeakMiB")).toDouble(), 0) + QStringLiteral(" MiB"); },
            QString() },
        { QStringLiteral("  of it fixture and node"),
            [](const QJsonObject& f) { return number(f.value(QLatin1String("baselineMiB")).toDouble(), 0) + QStringLiteral(" MiB"); },
            QString() },
    };

    const int labelWidth = 34;
    const int cellWidth = 14;
    out << QStringLiteral("%1").arg(QStringLiteral("pins"), -labelWidth);
    for (const QJsonValue& size : sizes)
        out << QStringLiteral("%1").arg(grouped(size.toObject().value(QLatin1String("pins")).toInt()), cellWidth);
    out << QStringLiteral("   target at 1,000,000\n");
    for (const Row& row : rows) {
        out << QStringLiteral("%1").arg(row.label, -labelWidth);
        for (const QJsonValue& size : sizes)
            out << QStringLiteral("%1").arg(row.cell(size.toObject()), cellWidth);
        out << QStringLiteral("   ") << row.target << u'\n';
    }
    if (!metadata.isEmpty()) {
        out << QStringLiteral("\nmetadata for %1 pins (main window: %2 refs, %3 sizes, %4 kinds): %5 ms   target 10000 ms\n")
                   .arg(grouped(metadata.value(QLatin1String("pins")).toInt()))
                   .arg(metadata.value(QLatin1String("refs")).toInt())
                   .arg(metadata.value(QLatin1String("sizes")).toInt())
                   .arg(metadata.value(QLatin1String("kinds")).toInt())
                   .arg(number(metadata.value(QLatin1String("metadataMs")).toDouble(), 0));
        out << QStringLiteral("count line: ") << metadata.value(QLatin1String("countLine")).toString() << u'\n';
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
    const QCommandLineOption sizesOption(QStringLiteral("sizes"), QStringLiteral("Pin counts to measure, comma separated."),
        QStringLiteral("list"), QStringLiteral("10000,100000,1000000"));
    const QCommandLineOption metadataOption(QStringLiteral("metadata-pins"),
        QStringLiteral("Pins for the metadata road (0 skips it)."), QStringLiteral("count"), QStringLiteral("10000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs per figure; the best is kept."),
        QStringLiteral("count"), QStringLiteral("3"));
    const QCommandLineOption serveOption(QStringLiteral("serve"), QStringLiteral("Only serve this many pins."),
        QStringLiteral("count"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port for --serve (default 5001)."),
        QStringLiteral("port"), QStringLiteral("5001"));
    const QCommandLineOption childOption(QStringLiteral("child"), QStringLiteral("Internal: measure one size."),
        QStringLiteral("count"));
    const QCommandLineOption metadataChildOption(QStringLiteral("metadata-child"),
        QStringLiteral("Internal: measure the metadata road."), QStringLiteral("count"));
    const QCommandLineOption windowChildOption(QStringLiteral("window-child"),
        QStringLiteral("Internal: measure the main window's first refresh."), QStringLiteral("count"));
    for (const QCommandLineOption& option :
        { jsonOption, sizesOption, metadataOption, runsOption, serveOption, portOption, childOption, metadataChildOption, windowChildOption })
        parser.addOption(option);
    parser.process(app);

    if (parser.isSet(serveOption)) {
        const int count = parser.value(serveOption).toInt();
        const PinFixture fixture = PinFixture::generate(count);
        BenchNode node(fixture);
        if (!node.start(quint16(parser.value(portOption).toUInt()))) {
            std::fprintf(stderr, "vaxel-bench: cannot listen on port %s\n", qPrintable(parser.value(portOption)));
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

    if (parser.isSet(jsonOption)) {
        QJsonObject all;
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
    return 0;
}
