#include "slicedwork.h"

#include <QElapsedTimer>

namespace {

// Time one slice may take: well inside what a user notices.
constexpr qint64 kSliceMs = 20;

} // namespace

SlicedWork::SlicedWork(QObject* parent)
    : QObject(parent)
{
    sliceTimer.setInterval(0);
    connect(&sliceTimer, &QTimer::timeout, this, &SlicedWork::runSlice);
}

void SlicedWork::start(Step newStep)
{
    ++runNumber;
    sliceTimer.stop();
    step = std::move(newStep);
    runSlice();
}

void SlicedWork::stop()
{
    ++runNumber;
    sliceTimer.stop();
    step = nullptr;
}

void SlicedWork::runSlice()
{
    // A step may stop or restart the work (through whatever its changes signal): this slice then
    // ends at once, and the step it ran stays alive until it returns.
    const quint64 run = runNumber;
    const Step current = step;
    QElapsedTimer elapsed;
    elapsed.start();
    bool more = bool(current);
    while (more && run == runNumber && elapsed.elapsed() < kSliceMs)
        more = current();
    if (run != runNumber)
        return;
    if (more) {
        sliceTimer.start();
        return;
    }
    step = nullptr;
    sliceTimer.stop();
    emit finished();
}
