#include "mainwindow.h"

void MainWindow::onSettingsClicked() { }

void MainWindow::onCopySelectedCID() { }

void MainWindow::onSelectionChanged() { }

void MainWindow::onTableDoubleClicked(const QModelIndex&) { }

void MainWindow::onTableContextMenuRequested(const QPoint&) { }

void MainWindow::onOpenInGateway() { }

void MainWindow::onOpenFromLocal() { }

void MainWindow::onUnpinSelected() { }

void MainWindow::onUnpinAll() { }

void MainWindow::onUnpinned(const QStringList&) { }

void MainWindow::onShowIndirectPins(const QString&) { }

QStringList MainWindow::selectedCids() const
{
    return {};
}

QString MainWindow::firstSelectedCid() const
{
    return {};
}
