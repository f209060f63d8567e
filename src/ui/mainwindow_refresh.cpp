#include "mainwindow.h"

void MainWindow::triggerRefresh(bool) { }

void MainWindow::setRefreshing(bool) { }

void MainWindow::updateCountLabels() { }

int MainWindow::countUpdateIntervalMs() const
{
    return 100;
}

int MainWindow::minimumCidColumnWidth() const
{
    return 420;
}

void MainWindow::scheduleCountUpdate() { }

void MainWindow::autoFitColumns() { }

void MainWindow::onRefreshClicked() { }

void MainWindow::onAutoRefreshTick() { }

void MainWindow::onPinsReceived(const QList<PinEntry>&) { }

void MainWindow::onRefsReceivedForTable(const QString&, const QStringList&) { }

void MainWindow::onDagStatReceived(const QString&, qlonglong) { }

void MainWindow::onKindReceived(const QString&, const QString&) { }

void MainWindow::onSearchTextChanged(const QString&) { }

void MainWindow::onSearchDebounceTimeout() { }

void MainWindow::onConnectionStatusChanged(bool) { }

void MainWindow::onNodeInfoReceived(const QString&, const QString&) { }

void MainWindow::onErrorOccurred(const QString&) { }

void MainWindow::onStreamEntriesLoaded(const QString&, int) { }

void MainWindow::onApplicationStateChanged(Qt::ApplicationState) { }
