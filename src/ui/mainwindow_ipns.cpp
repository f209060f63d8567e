#include "mainwindow.h"

void MainWindow::onOpenViaIpnsClicked() { }

void MainWindow::onPublishToIpnsClicked() { }

void MainWindow::onResolveIpnsClicked() { }

void MainWindow::onIpnsKeysReceived(const QList<IpnsKeyEntry>&) { }

void MainWindow::onIpnsKeysFailed(const QString&) { }

void MainWindow::onIpnsPublished(const IpnsPublishResult&) { }

void MainWindow::onIpnsPublishFailed(const QString&) { }

void MainWindow::onIpnsResolved(const IpnsResolveResult&) { }

void MainWindow::onIpnsResolveFailed(const QString&) { }
