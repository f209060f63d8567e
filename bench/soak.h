#pragma once

#include <QJsonObject>

struct SoakOptions {
    int pins = 10000;
    int intervalSeconds = 30; // the auto-refresh interval the simulated time is made of
    int simulatedSeconds = 7 * 24 * 3600; // a week: 20,160 refreshes at 30 s
    bool clearLogs = false; // empty both logs after every refresh, to tell their growth from the rest
};

// The main window's refresh cycle with auto-refresh for a simulated week, against the bench node in
// its own process: the timer shortened so that each refresh starts as soon as the last one has
// loaded. Prints the memory every simulated hour and returns the figures at the start, at the end
// of every simulated day and at the end.
QJsonObject runSoak(const SoakOptions& options);
