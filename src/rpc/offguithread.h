#pragma once

#include "threadhandover.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <memory>

// Runs `work` on a short-lived thread of its own and hands its result to `done` on the GUI thread.
// `done` must test for itself whether its receiver still exists and still wants the result.
template <typename Work, typename Done> void runOffGuiThread(Work work, Done done)
{
    using Result = decltype(work());
    const auto job = std::make_shared<Work>(std::move(work));
    const auto result = std::make_shared<Result>();
    QThread* worker = QThread::create([job, result] {
        *result = (*job)();
        markHandOverSent(result.get());
    });
    // The thread object lives on this thread until after the hand-over, so it, not the owner, is the
    // context of the queued delivery.
    QObject::connect(worker, &QThread::finished, worker, [result, done]() mutable {
        markHandOverReceived(result.get());
        done(*result);
        // This connection lives on until the thread object is deleted, after events posted
        // meanwhile: a result kept that long would still share (and so force a copy of) whatever
        // `done` handed on without moving.
        *result = Result();
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    // A worker still running at quit would outlive the application objects.
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, worker, [worker] { worker->wait(); });
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // No thread could be started: do the work here rather than lose it.
        delete worker;
        Result here = (*job)();
        done(here);
    }
}
