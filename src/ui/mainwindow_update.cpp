#include "mainwindow.h"

void MainWindow::checkForUpdates() { }

void MainWindow::onUpdateCheckFinished(QNetworkReply*) { }
