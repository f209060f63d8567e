#include "kuboroad.h"

#include "appsettings.h"
#include "benchmeasure.h"
#include "benchsupport.h"
#include "ipfsclient.h"
#include "kubonode.h"

#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <limits>

namespace {

struct CurlRun {
    double ms = -1;
    qint64 bytes = 0;
};

// curl reading the two listings the client asks for, both at once as the client asks.
CurlRun curlOnce(const QString& curl, quint16 port)
{
    CurlRun run;
    QList<QProcess*> readers;
    QElapsedTimer timer;
    timer.start();
    for (const char* type : { "recursive", "direct" }) {
        const QString url = QStringLiteral("http://127.0.0.1:%1/api/v0/pin/ls?type=%2&names=true&stream=true"
                                           "&cid-base=base32&upgrade-cidv0-in-output=true")
                                .arg(port)
                                .arg(QLatin1String(type));
        auto* reader = new QProcess;
        reader->start(curl,
            { QStringLiteral("-sS"), QStringLiteral("-X"), QStringLiteral("POST"), QStringLiteral("-A"),
                QString::fromLatin1(vaxelUserAgent()), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                QStringLiteral("-w"), QStringLiteral("%{size_download}"), url });
        readers.append(reader);
    }
    bool ok = true;
    for (QProcess* reader : std::as_const(readers)) {
        ok = reader->waitForFinished(120000) && reader->exitCode() == 0 && ok;
        run.bytes += reader->readAllStandardOutput().trimmed().toLongLong();
    }
    run.ms = ok ? elapsedMs(timer) : -1;
    qDeleteAll(readers);
    return run;
}

} // namespace

QJsonObject measureKuboRoad(int pins, int runs, const QString& startScript)
{
    QJsonObject figures;
    figures.insert(QStringLiteral("pins"), pins);
    QElapsedTimer startTimer;
    startTimer.start();
    KuboNode kubo(startScript);
    if (!kubo.isRunning()) {
        figures.insert(QStringLiteral("skipped"), kubo.failure());
        return figures;
    }
    figures.insert(QStringLiteral("startMs"), elapsedMs(startTimer));
    QElapsedTimer seedTimer;
    seedTimer.start();
    const int seeded = kubo.addSmallFiles(pins);
    if (seeded != pins) {
        figures.insert(QStringLiteral("skipped"),
            QStringLiteral("seeding reported %1 of %2 files: %3").arg(seeded).arg(pins).arg(kubo.failure()));
        return figures;
    }
    figures.insert(QStringLiteral("seedMs"), elapsedMs(seedTimer));

    double rawMs = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run)
        rawMs = std::min(rawMs, rawTransferMs(kubo.port()));
    figures.insert(QStringLiteral("rawMs"), rawMs);

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        figures.insert(QStringLiteral("curlSkipped"), QStringLiteral("curl is not installed"));
    } else {
        CurlRun best;
        for (int run = 0; run < runs; ++run) {
            const CurlRun next = curlOnce(curl, kubo.port());
            if (next.ms >= 0 && (best.ms < 0 || next.ms < best.ms))
                best = next;
        }
        figures.insert(QStringLiteral("curlMs"), best.ms);
        figures.insert(QStringLiteral("bodyMiB"), double(best.bytes) / 1048576.0);
    }

    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), kubo.port());
    double loadMs = std::numeric_limits<double>::max();
    double stallMs = 0;
    qsizetype listed = 0;
    for (int run = 0; run < runs; ++run) {
        const LoadRun load = loadPinsOnce(client);
        loadMs = std::min(loadMs, load.ms);
        stallMs = std::max(stallMs, load.stallMs);
        listed = load.pins.size();
    }
    figures.insert(QStringLiteral("loadMs"), loadMs);
    figures.insert(QStringLiteral("worstStallMs"), stallMs);
    // A fresh repository also pins the empty folder.
    figures.insert(QStringLiteral("listed"), double(listed));
    figures.insert(QStringLiteral("peakMiB"), procStatusMiB("VmHWM"));
    return figures;
}
