#include "benchreport.h"

#include <QJsonValue>
#include <QLocale>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <utility>

namespace {

QString number(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

QString grouped(int value)
{
    QLocale english(QLocale::English);
    return english.toString(value);
}

QString ms(const QJsonObject& figures, const char* key)
{
    const double value = figures.value(QLatin1String(key)).toDouble(-1);
    return value < 0 ? QStringLiteral("-") : number(value, 0) + QStringLiteral(" ms");
}

} // namespace

void printPinRoad(const QJsonArray& sizes, const QJsonObject& metadata)
{
    QTextStream out(stdout);
    struct Row {
        QString label;
        std::function<QString(const QJsonObject&)> cell;
        QString target;
    };
    const auto column = [](const char* key) {
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
        { QStringLiteral("load (fetchPins -> pinsReceived)"), column("loadMs"),
            QStringLiteral("1000 ms, 5x raw") },
        { QStringLiteral("raw transfer (floor)"), column("rawMs"), QString() },
        { QStringLiteral("load / raw"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("loadMs")).toDouble()
                               / f.value(QLatin1String("rawMs")).toDouble(),
                           1)
                    + u'x';
            },
            QStringLiteral("5x") },
        { QStringLiteral("table (list -> sorted proxy)"), column("tableMs"), QString() },
        { QStringLiteral("  longest GUI stall"), column("tableStallMs"), QStringLiteral("100 ms") },
        { QStringLiteral("table refresh (over a full table)"), column("tableRefreshMs"), QString() },
        { QStringLiteral("  longest GUI stall"), column("tableRefreshStallMs"), QStringLiteral("100 ms") },
        { QStringLiteral("search (setFilterFixedString)"), column("searchMs"), QStringLiteral("100 ms") },
        { QStringLiteral("  rows matched"),
            [](const QJsonObject& f) { return grouped(f.value(QLatin1String("searchMatches")).toInt()); },
            QString() },
        { QStringLiteral("search cleared"), column("searchClearMs"), QStringLiteral("100 ms") },
        { QStringLiteral("longest GUI stall during load"), column("stallMs"), QStringLiteral("30 ms") },
        { QStringLiteral("  worst of all runs"), column("worstStallMs"), QStringLiteral("30 ms") },
        { QStringLiteral("  GUI thread busy, worst run"), column("worstBusyMs"), QString() },
        { QStringLiteral("peak memory (VmHWM)"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("peakMiB")).toDouble(), 0) + QStringLiteral(" MiB");
            },
            QStringLiteral("400 MiB") },
        { QStringLiteral("  after a refresh"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("peakAfterRefreshMiB")).toDouble(), 0)
                    + QStringLiteral(" MiB");
            },
            QStringLiteral("600 MiB") },
        { QStringLiteral("window: refresh to loaded table"), column("windowTableMs"), QString() },
        { QStringLiteral("window: longest stall, load + 1 s"), column("windowStallMs"),
            QStringLiteral("100 ms") },
        { QStringLiteral("window: peak memory"),
            [](const QJsonObject& f) {
                return number(f.value(QLatin1String("windowPeakMiB")).toDouble(), 0) + QStringLiteral(" MiB");
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
            "\nmetadata for %1 pins (main window: %2 refs, %3 sizes, %4 kinds): %5 ms   target 3000 ms\n")
                   .arg(grouped(metadata.value(QLatin1String("pins")).toInt()))
                   .arg(metadata.value(QLatin1String("refs")).toInt())
                   .arg(metadata.value(QLatin1String("sizes")).toInt())
                   .arg(metadata.value(QLatin1String("kinds")).toInt())
                   .arg(number(metadata.value(QLatin1String("metadataMs")).toDouble(), 0));
        out << QStringLiteral("  longest GUI stall from the request to the last answer: %1   target 100 ms\n")
                   .arg(ms(metadata, "metadataStallMs"));
        out << QStringLiteral("count line: ") << metadata.value(QLatin1String("countLine")).toString()
            << u'\n';
    }
}

void printNetworkWindows(const QJsonObject& windows)
{
    QTextStream out(stdout);
    const auto line = [&](const QString& label, const char* key) {
        const QJsonObject figure = windows.value(QLatin1String(key)).toObject();
        out << QStringLiteral("%1%2 ms   longest stall %3 ms   targets 1000 ms, stall 100 ms\n")
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
    const int refreshes = soak.value(QLatin1String("refreshes")).toInt();
    const int interval = soak.value(QLatin1String("intervalSeconds")).toInt();
    std::printf("\nsoak: %d pins, %d refreshes (every %d s for %.1f simulated days) in %.0f s%s\n",
        soak.value(QLatin1String("pins")).toInt(), refreshes, interval,
        double(refreshes) * interval / 86400.0, soak.value(QLatin1String("wallSeconds")).toDouble(),
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
    const QJsonArray days = soak.value(QLatin1String("days")).toArray();
    for (int i = 0; i < days.size(); ++i) {
        const QJsonObject day = days.at(i).toObject();
        std::printf("  end of day %d: heap %.1f MiB, rss %.1f MiB, logs %d + %d lines\n", i + 1,
            day.value(QLatin1String("heapMiB")).toDouble(), day.value(QLatin1String("rssMiB")).toDouble(),
            day.value(QLatin1String("statusLines")).toInt(), day.value(QLatin1String("rpcLines")).toInt());
    }
    if (days.size() >= 2) {
        const double first = days.first().toObject().value(QLatin1String("heapMiB")).toDouble();
        const double last = days.last().toObject().value(QLatin1String("heapMiB")).toDouble();
        std::printf("  heap from the first day's end to the last: %+.1f %%   target within 10 %%\n",
            first > 0 ? (last - first) / first * 100.0 : 0.0);
    }
    const QJsonArray quarters = soak.value(QLatin1String("quarters")).toArray();
    for (int i = 0; i < quarters.size(); ++i) {
        const QJsonObject quarter = quarters.at(i).toObject();
        std::printf("  quarter %d: heap %+.1f MiB, of which logs %+.1f MiB; rss %+.1f MiB\n", i + 1,
            quarter.value(QLatin1String("heapGrowthMiB")).toDouble(),
            quarter.value(QLatin1String("logGrowthMiB")).toDouble(),
            quarter.value(QLatin1String("rssGrowthMiB")).toDouble());
    }
}

void printKuboRoad(const QJsonObject& kubo)
{
    QTextStream out(stdout);
    const int pins = kubo.value(QLatin1String("pins")).toInt();
    if (kubo.contains(QLatin1String("skipped"))) {
        out << QStringLiteral("\nreal Kubo at %1 pins: skipped (%2)\n")
                   .arg(grouped(pins), kubo.value(QLatin1String("skipped")).toString());
        return;
    }
    out << QStringLiteral("\nreal Kubo, %1 pins listed (seeded by one \"/add\" of %2 small files in %3 s):\n")
               .arg(grouped(kubo.value(QLatin1String("listed")).toInt()), grouped(pins),
                   number(kubo.value(QLatin1String("seedMs")).toDouble() / 1000.0, 0));
    const auto line = [&](const QString& label, const QString& value, const QString& target) {
        out << QStringLiteral("  %1%2   %3\n").arg(label, -40).arg(value, 10).arg(target);
    };
    line(QStringLiteral("pin list body"),
        number(kubo.value(QLatin1String("bodyMiB")).toDouble(), 1) + QStringLiteral(" MiB"), QString());
    line(QStringLiteral("load (fetchPins -> pinsReceived)"), ms(kubo, "loadMs"), QString());
    line(QStringLiteral("raw transfer (floor)"), ms(kubo, "rawMs"), QString());
    if (kubo.contains(QLatin1String("curlSkipped")))
        line(QStringLiteral("curl, the same two listings"), QStringLiteral("-"),
            kubo.value(QLatin1String("curlSkipped")).toString());
    else
        line(QStringLiteral("curl, the same two listings"), ms(kubo, "curlMs"), QString());
    line(QStringLiteral("load / raw"),
        number(
            kubo.value(QLatin1String("loadMs")).toDouble() / kubo.value(QLatin1String("rawMs")).toDouble(), 2)
            + u'x',
        QStringLiteral("5x"));
    line(QStringLiteral("longest GUI stall during load, worst run"), ms(kubo, "worstStallMs"),
        QStringLiteral("30 ms"));
    line(QStringLiteral("peak memory (VmHWM)"),
        number(kubo.value(QLatin1String("peakMiB")).toDouble(), 0) + QStringLiteral(" MiB"), QString());
}

void printSortedRefreshes(const QJsonArray& refreshes)
{
    if (refreshes.isEmpty())
        return;
    QTextStream out(stdout);
    const int watch = refreshes.first().toObject().value(QLatin1String("watchSeconds")).toInt();
    out << QStringLiteral("\nmain window refresh sorted by each column, metadata answers arriving (each load "
                          "and the %1 s after it; the second load over the full table; stall: the longest "
                          "wait of a 10 ms GUI timer, busy: the GUI thread's own CPU time in its longest "
                          "stretch without one):\n")
               .arg(watch);
    out << QStringLiteral("%1%2%3%4%5%6%7%8%9%10%11\n")
               .arg(QStringLiteral("sorted by"), -24)
               .arg(QStringLiteral("rows"), 10)
               .arg(QStringLiteral("load"), 10)
               .arg(QStringLiteral("stall"), 10)
               .arg(QStringLiteral("busy"), 8)
               .arg(QStringLiteral("answers/s"), 11)
               .arg(QStringLiteral("2nd load"), 10)
               .arg(QStringLiteral("stall"), 10)
               .arg(QStringLiteral("busy"), 8)
               .arg(QStringLiteral("answers/s"), 11)
               .arg(QStringLiteral("peak"), 10);
    for (const QJsonValue& value : refreshes) {
        const QJsonObject f = value.toObject();
        const auto perSecond = [&](const char* key) {
            return grouped(int(f.value(QLatin1String(key)).toDouble() / qMax(1, watch)));
        };
        out << QStringLiteral("%1%2%3%4%5%6%7%8%9%10%11\n")
                   .arg(f.value(QLatin1String("columnName")).toString(), -24)
                   .arg(grouped(f.value(QLatin1String("pins")).toInt()), 10)
                   .arg(ms(f, "firstTableMs"), 10)
                   .arg(ms(f, "firstStallMs"), 10)
                   .arg(ms(f, "firstBusyMs"), 8)
                   .arg(perSecond("firstAnswers"), 11)
                   .arg(ms(f, "secondTableMs"), 10)
                   .arg(ms(f, "secondStallMs"), 10)
                   .arg(ms(f, "secondBusyMs"), 8)
                   .arg(perSecond("secondAnswers"), 11)
                   .arg(number(f.value(QLatin1String("peakMiB")).toDouble(), 0) + QStringLiteral(" MiB"), 10);
    }
    out << QStringLiteral("%1%2%3%4\n")
               .arg(QStringLiteral("target"), -44)
               .arg(QStringLiteral("100 ms"), 10)
               .arg(QStringLiteral("100 ms"), 39)
               .arg(QStringLiteral("600 MiB"), 29);
}

void printWindowSteps(const QJsonObject& steps)
{
    if (steps.isEmpty())
        return;
    QTextStream out(stdout);
    out << QStringLiteral("\nwindows over large answers, from the request to the result on screen:\n");
    const auto line = [&](const QString& label, const QJsonObject& f, const char* key) {
        out << QStringLiteral("%1%2   longest stall %3   target stall 100 ms\n")
                   .arg(label, -58)
                   .arg(ms(f, key), 9)
                   .arg(ms(f, "stallMs"), 8);
    };
    const QJsonObject notPinned = steps.value(QLatin1String("notPinned")).toObject();
    if (!notPinned.isEmpty()) {
        line(QStringLiteral("\"Not pinned\" refreshed, %1 local blocks")
                 .arg(grouped(notPinned.value(QLatin1String("localBlocks")).toInt())),
            notPinned, "ms");
        out << QStringLiteral(
            "  opening the window on it: %1; rows shown %2 (blocks no pin keeps: %3; %4 pins, %5 "
            "indirect)\n")
                   .arg(ms(notPinned, "firstMs"), grouped(notPinned.value(QLatin1String("rows")).toInt()),
                       grouped(notPinned.value(QLatin1String("unpinnedBlocks")).toInt()),
                       grouped(notPinned.value(QLatin1String("pins")).toInt()),
                       grouped(notPinned.value(QLatin1String("indirect")).toInt()));
    }
    const QJsonObject add = steps.value(QLatin1String("addResult")).toObject();
    if (!add.isEmpty())
        line(QStringLiteral("add result box, %1 entries")
                 .arg(grouped(add.value(QLatin1String("entries")).toInt())),
            add, "ms");
    const QJsonObject gc = steps.value(QLatin1String("gcReport")).toObject();
    if (!gc.isEmpty()) {
        line(QStringLiteral("garbage collection report, %1 CIDs")
                 .arg(grouped(gc.value(QLatin1String("cids")).toInt())),
            gc, "ms");
        if (!gc.value(QLatin1String("reportComplete")).toBool())
            out << QStringLiteral("  the report does not count every CID\n");
    }
    const QJsonObject remote = steps.value(QLatin1String("remoteFollowUp")).toObject();
    if (!remote.isEmpty()) {
        const double finished = remote.value(QLatin1String("finishedMs")).toDouble();
        line(QStringLiteral("remote-pin follow-up, %1 CIDs (service %2 ms a request)")
                 .arg(remote.value(QLatin1String("cids")).toInt())
                 .arg(remote.value(QLatin1String("serviceDelayMs")).toInt()),
            remote, "finishedMs");
        if (finished < 0)
            out << QStringLiteral("  not finished within %1 s\n")
                       .arg(remote.value(QLatin1String("limitMs")).toInt() / 1000);
        else
            out << QStringLiteral("  %1\n").arg(remote.value(QLatin1String("summary")).toString());
        out << QStringLiteral(
            "  pins queued %1 s each; status requests sent %2, at the node %3, at most %4 at "
            "once; remote adds %5\n")
                   .arg(remote.value(QLatin1String("queuedMs")).toInt() / 1000)
                   .arg(grouped(remote.value(QLatin1String("statusRequestsSent")).toInt()),
                       grouped(remote.value(QLatin1String("statusRequestsAtNode")).toInt()),
                       grouped(remote.value(QLatin1String("statusMaxInFlight")).toInt()),
                       grouped(remote.value(QLatin1String("addRequestsAtNode")).toInt()));
        out << QStringLiteral("  refresh asked for %1 s in: both listings at the node after %2, table loaded "
                              "after %3\n")
                   .arg(number(remote.value(QLatin1String("refreshAtMs")).toDouble() / 1000.0, 1),
                       ms(remote, "refreshReachedNodeMs"), ms(remote, "refreshLoadedMs"));
    }
}
