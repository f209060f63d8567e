#pragma once

#include <QCoreApplication>
#include <QThread>

#include <utility>

// Freeing a container of a million entries takes tens of milliseconds; on a thread of its own it
// costs the window nothing. The container must be the last holder of what it frees, or shared
// only through atomic counts (as Qt's implicitly shared strings are).
template <typename Container> void releaseInBackground(Container old)
{
    QThread* releaser = QThread::create([held = std::move(old)]() mutable { held = Container(); });
    QObject::connect(releaser, &QThread::finished, releaser, &QObject::deleteLater);
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, releaser, [releaser] { releaser->wait(); });
    releaser->start();
    if (!releaser->isRunning() && !releaser->isFinished())
        delete releaser; // no thread to be had: it goes here
}
