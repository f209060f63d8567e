#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Runs long work on the GUI thread a slice at a time, so that the window answers in between: one
// slice runs small steps until its time is up, the next comes on a later turn of the event loop.
class SlicedWork : public QObject
{
    Q_OBJECT

public:
    // One small piece of the work; returns whether more is left.
    using Step = std::function<bool()>;

    explicit SlicedWork(QObject* parent);

    // Replaces any work under way. The first slice runs before this returns, so short work is
    // done, and finished() sent, by then.
    void start(Step step);
    // Stops where it is; finished() is not sent.
    void stop();
    bool isRunning() const { return sliceTimer.isActive(); }

signals:
    void finished();

private:
    void runSlice();

    Step step;
    quint64 runNumber = 0; // counts starts and stops
    QTimer sliceTimer;
};
