#pragma once

#include <QtGlobal>

#include <ctime>

// Now on the system's monotonic clock, in ms: the node and the benchmark, two processes, compare
// their times on it.
inline qint64 monotonicMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
