#include "mainwindow.h"

#include "ipfsclient.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>

void MainWindow::setStatusMessage(const QString& message)
{
    if (shuttingDown)
        return;
    if (statusLabel)
        statusLabel->setText(message);
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        + QStringLiteral("  ") + message;
    statusLogLines.append(line);
    emit statusLogAppended(line);
}

void MainWindow::scheduleStatusReset(int delayMs, std::function<bool(const QString&)> stillTransient)
{
    QTimer::singleShot(delayMs, this, [this, stillTransient = std::move(stillTransient)] {
        if (statusLabel && stillTransient(statusLabel->text()))
            setStatusMessage(QStringLiteral("Ready"));
    });
}

void MainWindow::showNotification(const QString& text, bool warning)
{
    if (!notificationLabel)
        return;
    notificationLabel->setText(warning ? QStringLiteral("\u26A0  ") + text : text);
    notificationLabel->show();
}

void MainWindow::setConnectionDotState(ConnectionStatusDot::State state, const QString& detail)
{
    if (!statusDot)
        return;
    statusDot->setState(state);
    QString word;
    switch (state) {
    case ConnectionStatusDot::Unknown:
        word = QStringLiteral("Unknown");
        break;
    case ConnectionStatusDot::Checking:
        word = QStringLiteral("Checking");
        break;
    case ConnectionStatusDot::Connected:
        word = QStringLiteral("Connected");
        break;
    case ConnectionStatusDot::Disconnected:
        word = QStringLiteral("Disconnected");
        break;
    }
    QString toolTip = QStringLiteral("Connection: ") + word;
    const QString trimmedDetail = detail.trimmed();
    if (!trimmedDetail.isEmpty())
        toolTip += u'\n' + trimmedDetail;
    toolTip += QStringLiteral("\nUpdated: ") + QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    statusDot->setToolTip(toolTip);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == peerIdLabel && peerIdLabel && event->type() == QEvent::MouseButtonPress) {
        const auto* mouseEvent = static_cast<QMouseEvent*>(event);
        if (mouseEvent->button() == Qt::LeftButton && !peerId.isEmpty()) {
            QGuiApplication::clipboard()->setText(peerId);
            statusBar()->showMessage(QStringLiteral("Copied to clipboard"), 1000);
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onRpcRequestIssued(const QString& requestDescription)
{
    rpcLogLines.append(requestDescription);
    emit rpcLogAppended(requestDescription);
}
