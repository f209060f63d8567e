#pragma once

#include "mainwindow.h"

class IpfsClient;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

// The main window as a user has it, with the parts the benchmark watches and drives. Made after
// pointSettingsAtBenchNode(); its first refresh starts once the event loop runs.
struct BenchWindow {
    BenchWindow();

    MainWindow window;
    IpfsClient* client = nullptr;
    QLabel* countLabel = nullptr;
    QTableView* table = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* addButton = nullptr;

    int loads = 0; // tables the window has loaded (its pinsReceived handled)
    // Until the window has loaded `count` tables in all.
    bool waitForLoads(int count, int timeoutMs);
};
