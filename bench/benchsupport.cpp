#include "benchsupport.h"

#include "appsettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <ctime>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake; // nothing else may come to end the wait
    wake.start(20);
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

void pointSettingsAtBenchNode(quint16 port)
{
    QSettings settings = appSettings();
    settings.setValue(QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    settings.setValue(QStringLiteral("port"), int(port));
    settings.setValue(QStringLiteral("loadMetadata"), true);
    settings.setValue(QStringLiteral("geometry"), QByteArray());
    settings.sync();
}

double elapsedMs(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double procStatusMiB(const QByteArray& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

double heapInUseMiB()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1048576.0;
#else
    return -1;
#endif
}

void returnFreedPages()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

StallMeter::StallMeter()
{
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kIntervalMs);
    connect(&ticker, &QTimer::timeout, this, [this] {
        const double gap = elapsedMs(sinceLastTick);
        if (qEnvironmentVariableIsSet("VAXEL_BENCH_RSS")) {
            static int tick = 0;
            if (++tick % 5 == 0)
                std::fprintf(
                    stderr, "rss %.0f MiB at %.0f ms\n", procStatusMiB("VmRSS"), elapsedMs(sinceStart));
        }
        if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE") && gap > 20)
            std::fprintf(stderr, "gap %.1f ms ending at %.1f ms\n", gap, elapsedMs(sinceStart));
        worstGapMs = std::max(worstGapMs, gap);
        const double cpu = threadCpuMs();
        worstBusyMs = std::max(worstBusyMs, cpu - cpuAtLastTickMs);
        cpuAtLastTickMs = cpu;
        sinceLastTick.start();
    });
}

double StallMeter::threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

void StallMeter::start()
{
    worstGapMs = 0;
    worstBusyMs = 0;
    cpuAtLastTickMs = threadCpuMs();
    sinceLastTick.start();
    sinceStart.start();
    ticker.start();
}

double StallMeter::stop()
{
    worstGapMs = std::max(worstGapMs, elapsedMs(sinceLastTick));
    worstBusyMs = std::max(worstBusyMs, threadCpuMs() - cpuAtLastTickMs);
    ticker.stop();
    return std::max(0.0, worstGapMs - kIntervalMs);
}
