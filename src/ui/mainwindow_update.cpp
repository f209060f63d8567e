#include "mainwindow.h"

#include "appsettings.h"
#include "updateversion.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressDialog>
#include <QPushButton>
#include <QVersionNumber>

namespace {

const QString kUpdateTitle = QStringLiteral("Check for update");
// The build's update site (VAXEL_UPDATE_BASE_URL).
const QUrl kUpdateVersionUrl = updateVersionUrl(QStringLiteral(VAXEL_UPDATE_BASE_URL));
const QUrl kUpdateDownloadUrl = updateDownloadUrl(QStringLiteral(VAXEL_UPDATE_BASE_URL));
const char* const kCancelledByUser = "cancelledByUser";

// The site's answer is shown as plain text, never as markup.
void showUpdateMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, kUpdateTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void MainWindow::checkForUpdates()
{
    if (updateCheckInProgress)
        return;
    updateCheckInProgress = true;

    if (!updateProgressDialog) {
        updateProgressDialog = new QProgressDialog(this);
        updateProgressDialog->setWindowTitle(kUpdateTitle);
        updateProgressDialog->setCancelButtonText(QStringLiteral("Cancel"));
        updateProgressDialog->setAutoClose(false);
        updateProgressDialog->setAutoReset(false);
        updateProgressDialog->setMinimumDuration(0);
        updateProgressDialog->setWindowModality(Qt::ApplicationModal);
    }
    updateProgressDialog->setLabelText(QStringLiteral("Checking for updates..."));
    updateProgressDialog->setRange(0, 0);
    updateProgressDialog->setValue(0);
    updateProgressDialog->show();

    // A manager of its own, released with the answer.
    auto* manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this, &MainWindow::onUpdateCheckFinished);

    QNetworkRequest request(updateSiteUrl.isEmpty() ? kUpdateVersionUrl : updateVersionUrl(updateSiteUrl));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, vaxelUserAgent());
    applyConfiguredOriginHeader(request);
    // A site that takes the connection and then sends nothing must not hold the check for ever.
    request.setTransferTimeout(updateCheckSilenceLimitMs);
    QNetworkReply* reply = manager->get(request);
    connect(updateProgressDialog, &QProgressDialog::canceled, reply, [reply] {
        reply->setProperty(kCancelledByUser, true);
        reply->abort();
    });

    setStatusMessage(QStringLiteral("Checking for updates..."));
}

void MainWindow::onUpdateCheckFinished(QNetworkReply* reply)
{
    auto endCheck = [this] {
        if (updateProgressDialog)
            updateProgressDialog->hide();
        updateCheckInProgress = false;
    };
    if (!reply) {
        endCheck();
        return;
    }

    // Everything needed is read now: the message boxes below run event loops of their own.
    const bool failed = reply->error() != QNetworkReply::NoError;
    // An aborted reply is closed and has nothing to read.
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const bool cancelled = reply->property(kCancelledByUser).toBool();
    // Only the user's Cancel and the silence limit abort the request.
    const QString errorText = reply->error() == QNetworkReply::OperationCanceledError
        ? QStringLiteral("the update site sent nothing for %1 s")
              .arg(QString::number(reply->request().transferTimeout() / 1000.0))
        : reply->errorString();
    const QString currentText = versionTextWithoutPrefix(QCoreApplication::applicationVersion());
    const QVersionNumber current = QVersionNumber::fromString(currentText);
    QNetworkAccessManager* manager = reply->manager();
    reply->deleteLater();
    if (manager)
        manager->deleteLater();

    endCheck();

    if (cancelled) {
        setStatusMessage(QStringLiteral("Update check cancelled"));
        return;
    }
    if (failed) {
        showUpdateMessage(
            this, QMessageBox::Warning, QStringLiteral("Update check failed: %1").arg(errorText));
        setStatusMessage(QStringLiteral("Update check failed: %1").arg(errorText));
        return;
    }

    const QString latestText = latestVersionText(body);
    const QVersionNumber latest = QVersionNumber::fromString(latestText);
    if (current.isNull() || latest.isNull()) {
        showUpdateMessage(this, QMessageBox::Warning,
            QStringLiteral("Could not parse version information.\nCurrent: %1\nLatest: %2")
                .arg(currentText, latestText));
        setStatusMessage(QStringLiteral("Update check failed: invalid version response"));
        return;
    }

    // Trailing zeros name the same release: 1.1.4.0 is not newer than 1.1.4.
    if (QVersionNumber::compare(latest.normalized(), current.normalized()) <= 0) {
        showUpdateMessage(this, QMessageBox::Information,
            QStringLiteral("You are up to date.\nCurrent version: %1").arg(currentText));
        setStatusMessage(QStringLiteral("Up to date: %1").arg(currentText));
        return;
    }

    QMessageBox box(this);
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QStringLiteral("Update available"));
    box.setTextFormat(Qt::PlainText);
    box.setText(
        QStringLiteral("A newer version is available: %1\nYou are running: %2").arg(latestText, currentText));
    QPushButton* openButton = box.addButton(QStringLiteral("Open download page"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Close);
    box.exec();
    if (box.clickedButton() == openButton)
        QDesktopServices::openUrl(
            updateSiteUrl.isEmpty() ? kUpdateDownloadUrl : updateDownloadUrl(updateSiteUrl));
    setStatusMessage(QStringLiteral("Update available: %1").arg(latestText));
}
