#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Clocks and gauges shared by the benchmark's measurements.

double elapsedMs(const QElapsedTimer& timer);

// "VmHWM" or "VmRSS" of this process, in MiB.
double procStatusMiB(const QByteArray& key);

// Bytes the allocator has handed out and not had back, over all arenas, in MiB: unlike the
// resident size it falls when memory is freed.
double heapInUseMiB();

// Gives the pages of freed blocks in every heap back to the system.
void returnFreedPages();

// Runs this program again with these arguments (one measurement in a fresh process) and returns the
// JSON object it prints; empty when it failed.
QJsonObject runChild(const QStringList& arguments);

// Turns the event loop until done() holds or timeoutMs have passed; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// Points the (scratch) settings store at the bench node on port, with metadata loading on and no
// stored window geometry, so that a MainWindow made next talks to that node.
void pointSettingsAtBenchNode(quint16 port);

// Longest lateness of a 10 ms timer on the GUI thread while it runs.
class StallMeter : public QObject
{
public:
    StallMeter();
    void start();
    double stop(); // the longest stall in ms since start()
    // The GUI thread's own CPU time over its longest stretch between two ticks, up to stop(): a
    // stall longer than this waited for a core (other threads, other processes, the hypervisor).
    double longestBusyMs() const { return worstBusyMs; }

private:
    static double threadCpuMs();
    static constexpr int kIntervalMs = 10;
    QTimer ticker;
    QElapsedTimer sinceLastTick;
    QElapsedTimer sinceStart;
    double worstGapMs = 0;
    double cpuAtLastTickMs = 0;
    double worstBusyMs = 0;
};
