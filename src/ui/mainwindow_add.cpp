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

namespace {

// The root first, then every reported hash once, in the order the node reported them.
QStringList addedCidList(const QString& rootCid, const QList<AddEntry>& entries)
{
    QStringList cids;
    if (!rootCid.isEmpty())
        cids.append(rootCid);
    for (const AddEntry& entry : entries) {
        const QString hash = entry.hash.trimmed();
        if (!hash.isEmpty() && !cids.contains(hash))
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

    if (totalFiles < 1) {
        setStatusMessage(QStringLiteral("Adding to IPFS: %1").arg(name));
        if (addProgressDialog) {
            addProgressDialog->setRange(0, 0);
            addProgressDialog->setLabelText(QStringLiteral("Uploading\n%1").arg(name));
        }
        return;
    }

    setStatusMessage(QStringLiteral("Adding to IPFS: %1/%2 \u2014 %3")
                         .arg(QString::number(processedEntries), QString::number(totalFiles), name));
    if (!addProgressDialog)
        return;
    // The node counts folders and the wrapping folder too, so entries may outnumber files.
    const int shown = qMin(processedEntries, totalFiles);
    if (addProgressDialog->maximum() != totalFiles)
        addProgressDialog->setRange(0, totalFiles);
    addProgressDialog->setLabelText(QStringLiteral("Uploading %1 of %2\n%3")
                                        .arg(QString::number(shown), QString::number(totalFiles), name));
    // Last: a window-modal progress dialog handles events inside setValue, and the upload
    // may end right there.
    addProgressDialog->setValue(shown);
}

void MainWindow::endAddInProgress()
{
    addInProgress = false;
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
    if (addProgressDialog && addProgressDialog->maximum() > 0)
        addProgressDialog->setValue(addProgressDialog->maximum());
    endAddInProgress();

    const QStringList cids = addedCidList(rootCid, entries);
    const QString resultText = rootCid.isEmpty()
        ? QStringLiteral("Add operation completed successfully.\n\nReturned objects: %1").arg(entries.size())
        : QStringLiteral("Add operation completed successfully.\n\nRoot CID:\n%1").arg(rootCid);

    if (contentMode == QLatin1String("pinned"))
        triggerRefresh(false);

    if (rootCid.isEmpty()) {
        showNotification(QStringLiteral("Added %1 object(s) to IPFS.").arg(entries.size()), false);
        setStatusMessage(QStringLiteral("Added %1 object(s) to IPFS").arg(entries.size()));
    } else {
        showNotification(QStringLiteral("Added to IPFS successfully. Root CID: %1").arg(rootCid), false);
        setStatusMessage(QStringLiteral("Added to IPFS: %1").arg(rootCid));
    }

    const QString destination = pendingAddOptions.pinDestination.trimmed().toLower();
    if (destination == QLatin1String("both") || destination == QLatin1String("remote"))
        startRemotePinFlow(rootCid, entries);

    showAddResult(resultText, cids);
}

void MainWindow::showAddResult(const QString& resultText, const QStringList& cids)
{
    // File names and the node's texts are shown as they stand.
    QMessageBox box(
        QMessageBox::Information, QStringLiteral("Add to IPFS"), QString(), QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.setText(resultText);
    QPushButton* copyButton = nullptr;
    QPushButton* exportButton = nullptr;
    if (!cids.isEmpty()) {
        copyButton = box.addButton(QStringLiteral("Copy CIDs"), QMessageBox::ActionRole);
        exportButton = box.addButton(QStringLiteral("Export CIDs"), QMessageBox::ActionRole);
    }
    box.addButton(QMessageBox::Ok);
    box.exec();

    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        return;
    if (clicked == copyButton) {
        QGuiApplication::clipboard()->setText(cids.join(u'\n'));
        setStatusMessage(QStringLiteral("Copied %1 CID(s) to clipboard").arg(cids.size()));
    } else if (clicked == exportButton) {
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
