#include "mainwindow.h"

void MainWindow::showGcDialog(AuxWindowMode) { }

void MainWindow::showDhtStatsDialog(AuxWindowMode) { }

void MainWindow::showNetworkDialog(AuxWindowMode) { }

void MainWindow::showSwarmDialog(AuxWindowMode) { }

void MainWindow::showConfigDialog(AuxWindowMode) { }

void MainWindow::showRemoteServicesDialog(AuxWindowMode) { }

void MainWindow::showStatusLogDialog(AuxWindowMode) { }

void MainWindow::showRpcLogDialog(AuxWindowMode) { }

void MainWindow::configureAuxDialogWindowMode(QDialog*, AuxWindowMode) { }

void MainWindow::onGcClicked() { }

void MainWindow::onDhtStatsClicked() { }

void MainWindow::onConfigClicked() { }

void MainWindow::onRemoteServicesClicked() { }

void MainWindow::onStatusLogClicked() { }

void MainWindow::onLogClicked() { }
