#include "mainwindow.h"
#include "wholefilewrite.h"

#include "addtoipfsdialog.h"
#include "displaytext.h"
#include "ipfsclient.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {

// Failures the result box names one by one; the status log has every one.
constexpr int kResultFailuresShown = 10;

// The root first, then every reported hash once, in the order the node reported them.
QStringList addedCidList(const QString& rootCid, const QList<AddEntry>& entries)
{
    QStringList cids;
    QSet<QString> listed;
    cids.reserve(entries.size() + 1);
    listed.reserve(entries.size() + 1);
    if (!rootCid.isEmpty()) {
        cids.append(rootCid);
        listed.insert(rootCid);
    }
    for (const AddEntry& entry : entries) {
        const QString hash = entry.hash.trimmed();
        if (hash.isEmpty() || listed.contains(hash))
            continue;
        listed.insert(hash);
        cids.append(hash);
    }
    return cids;
}

// Writes one CID per line; returns the error text, empty on success.
QString writeCidList(const QString& path, const QStringList& cids)
{
    QByteArray content;
    for (const QString& cid : cids)
        content += cid.toUtf8() + '\n';
    return writeWholeFile(path, content, QIODevice::Text);
}

} // namespace

void MainWindow::onAddToIpfsClicked()
{
    if (addInProgress) {
        setStatusMessage(QStringLiteral("Add is already in progress\u2026"));
        return;
    }

    QList<LocalPathSelection> selections;
    {
        AddToIpfsDialog dialog(client, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        selections = dialog.selections();
        pendingAddOptions = dialog.options();
    }
    if (selections.isEmpty()) {
        showNotification(QStringLiteral("No valid files/folders were selected."), true);
        return;
    }

    addInProgress = true;
    addBtn->setEnabled(false);
    addToIpfsAction->setEnabled(false);
    if (!addProgressDialog) {
        addProgressDialog = new QProgressDialog(this);
        addProgressDialog->setWindowTitle(QStringLiteral("Add to IPFS"));
        addProgressDialog->setCancelButton(nullptr);
        addProgressDialog->setAutoClose(false);
        addProgressDialog->setAutoReset(false);
        addProgressDialog->setMinimumDuration(0);
        addProgressDialog->setWindowModality(Qt::WindowModal);
    }
    addProgressDialog->setLabelText(QStringLiteral("Preparing upload\u2026"));
    addProgressDialog->setRange(0, 0);
    addProgressDialog->setValue(0);
    addProgressDialog->show();

    setStatusMessage(QStringLiteral("Uploading %1 item(s) to IPFS\u2026").arg(selections.size()));
    // Nothing may follow this call: a body that cannot be built fails inside it, and
    // onAddFailed has then already put the controls back.
    client->addLocalPaths(selections, pendingAddOptions);
}

void MainWindow::onAddProgress(const QString& currentName, int processedEntries, int totalFiles)
{
    QString name = currentName.trimmed();
    if (name.isEmpty())
        name = QStringLiteral("(wrapped root)");

    if (totalFiles < 1)
        setStatusMessage(QStringLiteral("Adding to IPFS: %1").arg(name));
    else
        setStatusMessage(QStringLiteral("Adding to IPFS: %1/%2 \u2014 %3")
                             .arg(QString::number(processedEntries), QString::number(totalFiles), name));
    if (!addProgressDialog)
        return;
    // The node counts folders and the wrapping folder too, so entries may outnumber files.
    addProgressReport.name = name;
    addProgressReport.shown = qMin(processedEntries, totalFiles);
    addProgressReport.totalFiles = totalFiles;
    // A node may report tens of thousands of entries in one read; the dialog shows the newest of
    // them once per turn of the event loop instead of once per entry.
    if (addProgressReport.scheduled)
        return;
    addProgressReport.scheduled = true;
    QTimer::singleShot(0, this, [this] { showAddProgress(true); });
}

void MainWindow::showAddProgress(bool withValue)
{
    if (!addProgressReport.scheduled || !addProgressDialog)
        return;
    addProgressReport.scheduled = false;
    const AddProgressReport report = addProgressReport;
    if (report.totalFiles < 1) {
        addProgressDialog->setRange(0, 0);
        addProgressDialog->setLabelText(QStringLiteral("Uploading\n%1").arg(report.name));
        return;
    }
    if (addProgressDialog->maximum() != report.totalFiles)
        addProgressDialog->setRange(0, report.totalFiles);
    addProgressDialog->setLabelText(
        QStringLiteral("Uploading %1 of %2\n%3")
            .arg(QString::number(report.shown), QString::number(report.totalFiles), report.name));
    // Last: a window-modal progress dialog handles events inside setValue, and the upload may
    // end right there.
    if (withValue)
        addProgressDialog->setValue(report.shown);
}

void MainWindow::endAddInProgress()
{
    addInProgress = false;
    // The last report still names what was uploaded last; its value is the caller's to set.
    showAddProgress(false);
    addBtn->setEnabled(true);
    addToIpfsAction->setEnabled(true);
    if (!addProgressDialog)
        return;
    // reset() also stops the dialog's own delayed show, so that a hidden dialog stays hidden.
    addProgressDialog->reset();
    addProgressDialog->hide();
}

void MainWindow::onAddCompleted(const QString& rootCid, const QList<AddEntry>& entries)
{
    showAddProgress(false);
    if (addProgressDialog && addProgressDialog->maximum() > 0)
        addProgressDialog->setValue(addProgressDialog->maximum());
    endAddInProgress();

    addResultDetail = rootCid.isEmpty() ? QStringLiteral("Returned objects: %1").arg(entries.size())
                                        : QStringLiteral("Root CID:\n%1").arg(rootCid);

    if (contentMode == QLatin1String("pinned"))
        triggerRefresh(false);

    if (rootCid.isEmpty()) {
        showNotification(QStringLiteral("Added %1 object(s) to IPFS.").arg(entries.size()), false);
        setStatusMessage(QStringLiteral("Added %1 object(s) to IPFS").arg(entries.size()));
    } else {
        showNotification(QStringLiteral("Added to IPFS successfully. Root CID: %1").arg(rootCid), false);
        setStatusMessage(QStringLiteral("Added to IPFS: %1").arg(rootCid));
    }

    addResultFollowsRemotePins = false;
    const QString destination = pendingAddOptions.pinDestination.trimmed().toLower();
    if (destination == QLatin1String("both") || destination == QLatin1String("remote"))
        addResultFollowsRemotePins = startRemotePinFlow(rootCid, entries) && remotePinActive;

    showAddResult(rootCid, entries);
}

QString MainWindow::addResultText() const
{
    QString headline = QStringLiteral("Add operation completed successfully.");
    QString remote;
    if (addResultFollowsRemotePins) {
        // The local half alone is no success when the remote half failed.
        const qsizetype total = remotePinPinned.size() + remotePinPending.size() + remotePinFailed.size();
        if (!remotePinFailed.isEmpty())
            headline = QStringLiteral("Added to IPFS, but remote pinning failed for %1 of %2 CID(s).")
                           .arg(QString::number(remotePinFailed.size()), QString::number(total));
        else if (!remotePinPending.isEmpty())
            headline = QStringLiteral("Added to IPFS. Remote pinning is in progress.");
        remote = QStringLiteral("\n\nRemote pinning on '%1': %2 pinned, %3 pending, %4 failed.")
                     .arg(remotePinService, QString::number(remotePinPinned.size()),
                         QString::number(remotePinPending.size()), QString::number(remotePinFailed.size()));
        QStringList failed = remotePinFailed.keys();
        failed.sort();
        for (qsizetype i = 0; i < failed.size() && i < kResultFailuresShown; ++i)
            remote += u'\n' + remotePinFailed.value(failed.at(i));
        if (failed.size() > kResultFailuresShown)
            remote += QStringLiteral("\n\u2026and %1 more, each named in the status log.")
                          .arg(failed.size() - kResultFailuresShown);
    }
    return headline + QStringLiteral("\n\n") + addResultDetail + remote;
}

void MainWindow::updateAddResult()
{
    if (!addResultBox || !addResultFollowsRemotePins)
        return;
    addResultBox->setText(addResultText());
    addResultBox->setIcon(remotePinFailed.isEmpty() ? QMessageBox::Information : QMessageBox::Warning);
}

void MainWindow::showAddResult(const QString& rootCid, const QList<AddEntry>& entries)
{
    QMessageBox box(
        QMessageBox::Information, QStringLiteral("Add to IPFS"), QString(), QMessageBox::NoButton, this);
    // Names and reasons from the node are text, never markup.
    box.setTextFormat(Qt::PlainText);
    addResultBox = &box;
    updateAddResult();
    if (!addResultFollowsRemotePins)
        box.setText(addResultText());
    QPushButton* copyButton = nullptr;
    QPushButton* exportButton = nullptr;
    // The list itself is made only when asked for: it costs time with a hundred thousand entries.
    const bool anyCid = !rootCid.isEmpty()
        || std::any_of(entries.cbegin(), entries.cend(),
            [](const AddEntry& entry) { return !entry.hash.trimmed().isEmpty(); });
    if (anyCid) {
        copyButton = box.addButton(QStringLiteral("Copy CIDs"), QMessageBox::ActionRole);
        exportButton = box.addButton(QStringLiteral("Export CIDs"), QMessageBox::ActionRole);
    }
    box.addButton(QMessageBox::Ok);
    box.exec();
    addResultBox = nullptr;

    QAbstractButton* clicked = box.clickedButton();
    if (!clicked || (clicked != copyButton && clicked != exportButton))
        return;
    const QStringList cids = addedCidList(rootCid, entries);
    if (clicked == copyButton) {
        QGuiApplication::clipboard()->setText(cids.join(u'\n'));
        setStatusMessage(QStringLiteral("Copied %1 CID(s) to clipboard").arg(cids.size()));
    } else {
        exportCids(cids);
    }
}

void MainWindow::exportCids(const QStringList& cids)
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CIDs"),
        QStringLiteral("cids.txt"), QStringLiteral("Text files (*.txt);;CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    const QString error = writeCidList(path, cids);
    if (!error.isEmpty()) {
        showNotification(QStringLiteral("Failed to write file: %1").arg(error), true);
        return;
    }
    setStatusMessage(QStringLiteral("Exported %1 CID(s) to %2").arg(QString::number(cids.size()), path));
}

void MainWindow::onAddFailed(const QString& message)
{
    endAddInProgress();
    showNotification(message, true);
    setStatusMessage(QStringLiteral("Error: ") + message);
    showPlainMessage(this, QMessageBox::Critical, QStringLiteral("Add to IPFS failed"), message);
}
