#include "mainwindow.h"

#include "displaytext.h"
#include "gateway.h"
#include "ipfsclient.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

namespace {

const QString kIpfsPrefix = QStringLiteral("/ipfs/");
const QString kIpnsPrefix = QStringLiteral("/ipns/");
const QString kNamePromptLabel = QStringLiteral("IPNS name (k51..., peer id, or /ipns/...):");
const QString kPublishTitle = QStringLiteral("Publish to IPNS");

// Node texts and names reach these labels: shown as plain text, never as markup.
void usePlainTextLabel(QInputDialog& dialog)
{
    if (auto* label = dialog.findChild<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

// A single-line text prompt; returns false when cancelled.
bool promptText(
    QWidget* parent, const QString& title, const QString& label, const QString& text, QString* answer)
{
    QInputDialog dialog(parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    usePlainTextLabel(dialog);
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(text);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *answer = dialog.textValue();
    return true;
}

// An editable list prompt with the first item current; returns false when cancelled.
bool promptItem(
    QWidget* parent, const QString& title, const QString& label, const QStringList& items, QString* answer)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    usePlainTextLabel(dialog);
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(true);
    if (!items.isEmpty())
        dialog.setTextValue(items.first());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *answer = dialog.textValue();
    return true;
}

QString withoutPrefix(const QString& text, const QString& prefix)
{
    return text.startsWith(prefix) ? text.mid(prefix.size()) : text;
}

// Runs a result box whose action buttons are already added; returns the button that closed it
// (OK also for Escape).
QAbstractButton* runResultBox(QMessageBox& box, const QString& title, const QString& text)
{
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return box.clickedButton();
}

} // namespace

void MainWindow::onOpenViaIpnsClicked()
{
    // A gateway knows nothing of the node's key names ("self"), only names: the node's own is its
    // peer id. Unknown while no node answers, and then nothing is offered.
    QString answer;
    if (!promptText(this, QStringLiteral("Open via IPNS"), kNamePromptLabel, peerId, &answer))
        return;
    const QString name = withoutPrefix(answer.trimmed(), kIpnsPrefix).trimmed();
    if (name.isEmpty())
        return;
    QDesktopServices::openUrl(publicIpnsUrl(name));
    setStatusMessage(QStringLiteral("Opening /ipns/%1 in browser\u2026").arg(name));
}

void MainWindow::onPublishToIpnsClicked()
{
    if (contentMode != QLatin1String("pinned") || !tableView->selectionModel()->hasSelection())
        return;
    const QString cid = firstSelectedCid().trimmed();
    if (cid.isEmpty())
        return;
    pendingPublishCid = cid;
    setStatusMessage(QStringLiteral("Fetching IPNS keys for publish (%1)\u2026").arg(cid));
    client->fetchIpnsKeys();
}

void MainWindow::onIpnsKeysReceived(const QList<IpnsKeyEntry>& keys)
{
    if (pendingPublishCid.isEmpty())
        return;
    QStringList items { QStringLiteral("self") };
    for (const IpnsKeyEntry& key : keys) {
        if (!key.name.isEmpty() && !items.contains(key.name))
            items.append(key.name);
    }
    // The prompt names this CID; a publish started while it is open must not swap it.
    const QString cid = pendingPublishCid;
    QString answer;
    const bool ok = promptItem(
        this, kPublishTitle, QStringLiteral("Publish CID\n%1\n\nSelect key:").arg(cid), items, &answer);
    publishAfterKeyChoice(cid, ok, answer);
}

void MainWindow::onIpnsKeysFailed(const QString& message)
{
    if (pendingPublishCid.isEmpty())
        return;
    const QString cid = pendingPublishCid;
    QString answer;
    const bool ok = promptText(this, kPublishTitle,
        QStringLiteral("Could not load keys automatically.\n\n%1\n\nEnter key name:").arg(message),
        QStringLiteral("self"), &answer);
    publishAfterKeyChoice(cid, ok, answer);
}

void MainWindow::publishAfterKeyChoice(const QString& cid, bool ok, const QString& answer)
{
    const QString key = answer.trimmed();
    if (!ok || key.isEmpty()) {
        pendingPublishCid.clear();
        setStatusMessage(QStringLiteral("IPNS publish cancelled"));
        return;
    }
    setStatusMessage(QStringLiteral("Publishing %1 to IPNS key '%2'\u2026").arg(cid, key));
    client->publishIpns(cid, key);
}

void MainWindow::onIpnsPublished(const IpnsPublishResult& result)
{
    pendingPublishCid.clear();
    const QString unknown = QStringLiteral("(unknown)");
    const QString shownName = result.name.isEmpty() ? unknown : result.name;
    const QString shownValue = result.value.isEmpty() ? unknown : result.value;
    const QString summary
        = clipLongLines(QStringLiteral("IPNS publish succeeded: %1 -> %2").arg(shownName, shownValue));
    showNotification(summary, false);
    setStatusMessage(summary);

    QMessageBox box(this);
    QPushButton* copyName = nullptr;
    QPushButton* openName = nullptr;
    QPushButton* openValue = nullptr;
    if (!result.name.trimmed().isEmpty()) {
        copyName = box.addButton(QStringLiteral("Copy /ipns/..."), QMessageBox::ActionRole);
        openName = box.addButton(QStringLiteral("Open /ipns/..."), QMessageBox::ActionRole);
    }
    if (result.value.startsWith(kIpfsPrefix))
        openValue = box.addButton(QStringLiteral("Open published value"), QMessageBox::ActionRole);
    const QString key = result.key.isEmpty() ? QStringLiteral("self") : result.key;
    QAbstractButton* clicked = runResultBox(box, QStringLiteral("IPNS publish"),
        clipLongLines(QStringLiteral("Key: %1\nName: %2\nValue: %3").arg(key, shownName, shownValue)));

    if (clicked && clicked == copyName) {
        QGuiApplication::clipboard()->setText(result.name);
        setStatusMessage(clipLongLines(QStringLiteral("Copied IPNS name: %1").arg(result.name)));
    } else if (clicked && clicked == openName) {
        const QString name = withoutPrefix(result.name.trimmed(), kIpnsPrefix).trimmed();
        if (!name.isEmpty())
            QDesktopServices::openUrl(publicIpnsUrl(name));
    } else if (clicked && clicked == openValue) {
        const QString path = withoutPrefix(result.value, kIpfsPrefix).trimmed();
        if (!path.isEmpty())
            QDesktopServices::openUrl(publicIpfsUrl(path));
    }
}

void MainWindow::onIpnsPublishFailed(const QString& message)
{
    pendingPublishCid.clear();
    showNotification(message, true);
    setStatusMessage(QStringLiteral("Error: %1").arg(message));
}

void MainWindow::onResolveIpnsClicked()
{
    QString answer;
    if (!promptText(this, QStringLiteral("Resolve IPNS"), kNamePromptLabel, QString(), &answer))
        return;
    const QString name = answer.trimmed();
    if (name.isEmpty())
        return;
    setStatusMessage(QStringLiteral("Resolving %1\u2026").arg(name));
    client->resolveIpns(name);
}

void MainWindow::onIpnsResolved(const IpnsResolveResult& result)
{
    const QString shownName = result.name.isEmpty() ? QStringLiteral("(unknown)") : result.name;
    const QString shownPath = result.path.isEmpty() ? QStringLiteral("(empty)") : result.path;
    const QString summary = clipLongLines(QStringLiteral("%1 -> %2").arg(shownName, shownPath));
    const QString resolvedText = QStringLiteral("IPNS resolved: %1").arg(summary);
    showNotification(resolvedText, false);
    setStatusMessage(resolvedText);

    QMessageBox box(this);
    QPushButton* copyName = nullptr;
    QPushButton* copyPath = nullptr;
    QPushButton* openTarget = nullptr;
    QPushButton* openName = nullptr;
    const bool nameIsIpns = shownName.startsWith(kIpnsPrefix);
    if (nameIsIpns)
        copyName = box.addButton(QStringLiteral("Copy IPNS name"), QMessageBox::ActionRole);
    if (!result.path.trimmed().isEmpty())
        copyPath = box.addButton(QStringLiteral("Copy resolved path"), QMessageBox::ActionRole);
    if (shownPath.startsWith(kIpfsPrefix))
        openTarget = box.addButton(QStringLiteral("Open resolved target"), QMessageBox::ActionRole);
    if (nameIsIpns)
        openName = box.addButton(QStringLiteral("Open IPNS name"), QMessageBox::ActionRole);
    QAbstractButton* clicked = runResultBox(box, QStringLiteral("IPNS resolve"), summary);

    if (clicked && clicked == copyName) {
        QGuiApplication::clipboard()->setText(shownName);
        setStatusMessage(clipLongLines(QStringLiteral("Copied IPNS name: %1").arg(shownName)));
    } else if (clicked && clicked == copyPath) {
        QGuiApplication::clipboard()->setText(result.path);
        setStatusMessage(clipLongLines(QStringLiteral("Copied resolved path: %1").arg(result.path)));
    } else if (clicked && clicked == openTarget) {
        const QString path = withoutPrefix(shownPath, kIpfsPrefix).trimmed();
        if (!path.isEmpty())
            QDesktopServices::openUrl(publicIpfsUrl(path));
    } else if (clicked && clicked == openName) {
        const QString name = withoutPrefix(shownName, kIpnsPrefix).trimmed();
        if (!name.isEmpty())
            QDesktopServices::openUrl(publicIpnsUrl(name));
    }
}

void MainWindow::onIpnsResolveFailed(const QString& message)
{
    showNotification(message, true);
    setStatusMessage(QStringLiteral("Error: %1").arg(message));
}
