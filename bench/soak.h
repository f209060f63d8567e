#pragma once

#include <QJsonObject>

struct SoakOptions {
    int pins = 10000;
    int intervalSeconds = 30; // the auto-refresh interval a day is made of
    int simulatedSeconds = 24 * 3600;
    bool clearLogs = false; // empty both logs after every refresh, to tell their growth from the rest
};

// The main window's refresh cycle with auto-refresh for a simulated day: its timer shortened so
// that each refresh starts as soon as the last one has loaded. Prints the memory after every
// refresh and returns the figures at the start and the end.
QJsonObject runSoak(const SoakOptions& options);
