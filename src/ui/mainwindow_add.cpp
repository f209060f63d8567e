#include "mainwindow.h"

void MainWindow::onAddToIpfsClicked() { }

void MainWindow::onAddProgress(const QString&, int, int) { }

void MainWindow::onAddCompleted(const QString&, const QList<AddEntry>&) { }

void MainWindow::onAddFailed(const QString&) { }

void MainWindow::onRemotePinQueued(const QString&, const QString&) { }

void MainWindow::onRemotePinQueueFailed(const QString&, const QString&, const QString&) { }

void MainWindow::onRemotePinStatusReceived(const QString&, const QString&, const QString&) { }

void MainWindow::onRemotePinStatusFailed(const QString&, const QString&, const QString&) { }

void MainWindow::onRemotePinPollTick() { }

void MainWindow::finalizeRemotePinFlow() { }
