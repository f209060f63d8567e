// Saving of a pin's files: one fetch at a time, each file written on its own worker thread.

#include "pincontentsdialog.h"

#include "contentpaths.h"
#include "ipfsclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QTreeWidget>

#include <thread>

using namespace PinContents;

void PinContentsDialog::onSaveAllFiles()
{
    const QList<FileTreeNode> nodes = allFileNodes();
    if (nodes.isEmpty()) {
        QMessageBox::information(
            this, QStringLiteral("Save all files"), QStringLiteral("No files in this pin."));
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Save all files to folder"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        startSave(folder, nodes);
}

void PinContentsDialog::onSaveSelected()
{
    const QList<FileTreeNode> nodes = selectedFileNodes();
    if (nodes.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Save selected"),
            QStringLiteral("Select one or more files in the tree (directories are skipped)."));
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Save selected files to folder"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        startSave(folder, nodes);
}

QList<FileTreeNode> PinContentsDialog::allFileNodes() const
{
    if (!rootItem)
        return {};
    return fileNodesBelow({ rootItem });
}

QList<FileTreeNode> PinContentsDialog::selectedFileNodes() const
{
    return fileNodesBelow(tree->selectedItems());
}

QList<FileTreeNode> PinContentsDialog::fileNodesBelow(const QList<QTreeWidgetItem*>& start) const
{
    QList<FileTreeNode> nodes;
    QQueue<QTreeWidgetItem*> queue;
    for (QTreeWidgetItem* item : start)
        queue.enqueue(item);
    while (!queue.isEmpty()) {
        QTreeWidgetItem* item = queue.dequeue();
        if (!item->data(0, IsDirectoryRole).toBool()) {
            FileTreeNode node;
            node.relativePath = item->data(0, RelativePathRole).toString();
            node.cid = item->data(0, CidRole).toString();
            node.size = item->data(0, SizeRole).toLongLong();
            node.guessExtension = item->data(0, GuessExtensionRole).toBool();
            nodes.append(node);
        }
        for (int i = 0; i < item->childCount(); ++i)
            queue.enqueue(item->child(i));
    }
    return nodes;
}

void PinContentsDialog::startSave(const QString& folder, const QList<FileTreeNode>& nodes)
{
    // Every target is built on the folder's canonical path, so links above it do not matter and
    // links below it can be recognised.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || !QFileInfo(canonical).isDir()) {
        statusLabel->setText(
            QStringLiteral("Failed to create directory: ") + QFileInfo(folder).absoluteFilePath());
        return;
    }
    saveDirectory = folder;
    saveBase = canonical;
    saveQueue = nodes;
    saveIndex = 0;
    saveFailures = 0;
    lastSaveError.clear();
    saveAllButton->setEnabled(false);
    saveSelectedButton->setEnabled(false);
    progressBar->setRange(0, int(saveQueue.size()));
    progressBar->setValue(0);
    progressBar->show();
    saveNextSelectedFile();
}

bool PinContentsDialog::saveRunning() const
{
    return saveIndex < saveQueue.size();
}

void PinContentsDialog::saveNextSelectedFile()
{
    while (saveIndex < saveQueue.size()) {
        const FileTreeNode& node = saveQueue.at(saveIndex);
        const QString relativePath = sanitizeRelativePath(node.relativePath);
        QString problem = checkSaveTarget(saveBase, relativePath);
        if (problem.isEmpty()) {
            const QString directory = QFileInfo(saveBase + QLatin1Char('/') + relativePath).absolutePath();
            if (!QDir().mkpath(directory)) {
                statusLabel->setText(
                    QStringLiteral("Failed to create directory: ") + QDir(directory).absolutePath());
                stopSave();
                return;
            }
            problem = checkSaveTarget(saveBase, relativePath);
        }
        if (problem.isEmpty() && node.cid.isEmpty())
            problem = QStringLiteral("Failed to download %1: the node gave no CID").arg(node.relativePath);
        if (problem.isEmpty()) {
            statusLabel->setText(QStringLiteral("Downloading %1…").arg(node.relativePath));
            client->fetchCat(node.cid);
            return;
        }
        recordSaveFailure(problem);
        ++saveIndex;
        progressBar->setValue(saveIndex);
    }

    const qsizetype total = saveQueue.size();
    stopSave();
    if (saveFailures == 0) {
        statusLabel->setText(QStringLiteral("Saved %1 file(s) to %2").arg(total).arg(saveDirectory));
    } else {
        // One multi-argument arg(): chained calls would read a "%4" in the folder's name as a placeholder.
        statusLabel->setText(QStringLiteral("Saved %1 of %2 file(s) to %3; %4 failed (last error: %5)")
                                 .arg(QString::number(total - saveFailures), QString::number(total),
                                     saveDirectory, QString::number(saveFailures), lastSaveError));
    }
}

void PinContentsDialog::recordSaveFailure(const QString& message)
{
    ++saveFailures;
    lastSaveError = message;
    statusLabel->setText(message);
}

void PinContentsDialog::stopSave()
{
    // An empty queue also makes late content answers fall through the filter.
    saveQueue.clear();
    saveIndex = 0;
    progressBar->hide();
    saveAllButton->setEnabled(true);
    saveSelectedButton->setEnabled(true);
}

void PinContentsDialog::onCatReceived(const QString& cid, const QByteArray& data)
{
    if (writeInProgress || !saveRunning() || cid != saveQueue.at(saveIndex).cid)
        return;
    const FileTreeNode& node = saveQueue.at(saveIndex);
    QString relativePath = sanitizeRelativePath(node.relativePath);
    if (node.guessExtension && QFileInfo(relativePath).suffix().isEmpty())
        relativePath += guessedFileExtension(data);
    writeDownloadedFileAsync(relativePath, data);
}

void PinContentsDialog::onCatFailed(const QString& cid, const QString& errorMessage)
{
    if (writeInProgress || !saveRunning() || cid != saveQueue.at(saveIndex).cid)
        return;
    recordSaveFailure(
        QStringLiteral("Failed to download %1: %2").arg(saveQueue.at(saveIndex).relativePath, errorMessage));
    ++saveIndex;
    progressBar->setValue(saveIndex);
    saveNextSelectedFile();
}

void PinContentsDialog::writeDownloadedFileAsync(const QString& relativePath, const QByteArray& data)
{
    if (writeInProgress)
        return;
    writeInProgress = true;
    statusLabel->setText(QStringLiteral("Saving %1…").arg(QFileInfo(relativePath).fileName()));

    // The worker owns copies of everything; the dialog may be closed and deleted at any moment,
    // which the weak pointer, tested on the GUI thread, tells the result.
    const QPointer<PinContentsDialog> guard(this);
    std::thread([guard, base = saveBase, relativePath, data] {
        QString message;
        const bool ok = writeContentFile(base, relativePath, data, &message);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [guard, ok, message] {
                if (guard)
                    guard->onAsyncFileWriteFinished(ok, message);
            },
            Qt::QueuedConnection);
    }).detach();
}

void PinContentsDialog::onAsyncFileWriteFinished(bool ok, const QString& message)
{
    writeInProgress = false;
    if (!saveRunning())
        return;
    if (!ok)
        recordSaveFailure(message.isEmpty() ? QStringLiteral("Failed to write file") : message);
    ++saveIndex;
    progressBar->setValue(saveIndex);
    saveNextSelectedFile();
}
