#include "pincontentsdialog.h"

#include "contentpaths.h"
#include "dialogsizing.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace PinContents;

namespace {

// A node that stays silent this long is not going to answer.
constexpr int kDefaultListingTimeoutMs = 60000;
// A pin can name one folder many times over at every level, so a few blocks may unfold into more
// entries than any window holds; the walk stops here instead.
constexpr int kDefaultEntryLimit = 500000;

QString shortCid(const QString& cid)
{
    return cid.size() <= 50 ? cid : cid.left(47) + QStringLiteral("…");
}

bool isDecimalDigits(const QString& text)
{
    for (const QChar c : text) {
        if (!c.isDigit())
            return false;
    }
    return true;
}

} // namespace

PinContentsDialog::PinContentsDialog(
    const QString& rootCid, IpfsClient* client, QWidget* parent, const QString& displayName)
    : QDialog(parent)
    , rootCid(rootCid)
    , displayName(displayName)
    , client(client)
    , entryLimit(kDefaultEntryLimit)
{
    setWindowTitle(QStringLiteral("Pin contents: %1").arg(shortCid(rootCid)));

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/PinContentsDialog");
    sizing.minimumSize = QSize(560, 420);
    sizing.preferredSize = QSize(700, 500);
    sizing.maxScreenWidthFraction = 0.8;
    sizing.maxScreenHeightFraction = 0.75;
    DialogSizing::attach(this, sizing);

    buildUi();

    listingTimer = new QTimer(this);
    listingTimer->setSingleShot(true);
    listingTimer->setInterval(kDefaultListingTimeoutMs);
    connect(listingTimer, &QTimer::timeout, this, &PinContentsDialog::onListingStalled);

    connect(client, &IpfsClient::lsReceived, this, &PinContentsDialog::onLsReceived);
    connect(client, &IpfsClient::kindReceived, this, &PinContentsDialog::onKindReceived);
    connect(client, &IpfsClient::errorOccurred, this, &PinContentsDialog::onErrorOccurred);
    connect(client, &IpfsClient::catReceived, this, &PinContentsDialog::onCatReceived);
    connect(client, &IpfsClient::catFailed, this, &PinContentsDialog::onCatFailed);
    connect(saveAllButton, &QPushButton::clicked, this, &PinContentsDialog::onSaveAllFiles);
    connect(saveSelectedButton, &QPushButton::clicked, this, &PinContentsDialog::onSaveSelected);

    startLoading();
}

PinContentsDialog::~PinContentsDialog() = default;

void PinContentsDialog::setListingTimeout(int milliseconds)
{
    listingTimer->setInterval(milliseconds);
    if (listingTimer->isActive())
        listingTimer->start();
}

void PinContentsDialog::setEntryLimit(int entries)
{
    entryLimit = entries;
}

void PinContentsDialog::buildUi()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    // The CID comes from the node: shown as text inside the markup, never as markup itself.
    auto* heading = new QLabel(
        QStringLiteral("Files under recursive pin: <b>%1</b>").arg(rootCid.toHtmlEscaped()), this);
    heading->setObjectName(QStringLiteral("headingLabel"));
    heading->setTextFormat(Qt::RichText);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    // It shows the node's names and error texts, which must not widen the window.
    statusLabel = new ElidedLabel(QStringLiteral("Loading…"), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    layout->addWidget(statusLabel);

    tree = new QTreeWidget(this);
    tree->setHeaderLabels({ QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("CID") });
    tree->setColumnWidth(0, 220);
    tree->setColumnWidth(1, 80);
    tree->setAlternatingRowColors(true);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setUniformRowHeights(true);
    tree->header()->setStretchLastSection(true);
    layout->addWidget(tree, 1);

    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 0);
    progressBar->hide();
    layout->addWidget(progressBar);

    auto* buttons = new QHBoxLayout;
    saveAllButton = new QPushButton(QStringLiteral("Save all files to disk…"), this);
    saveSelectedButton = new QPushButton(QStringLiteral("Save selected to disk…"), this);
    saveAllButton->setEnabled(false);
    saveSelectedButton->setEnabled(false);
    buttons->addWidget(saveAllButton);
    buttons->addWidget(saveSelectedButton);
    buttons->addStretch();
    layout->addLayout(buttons);
}

void PinContentsDialog::startLoading()
{
    tree->clear();
    takenNames.clear();
    pendingItems.clear();
    pendingListings = 0;
    rootKindRequested = false;
    awaitingRootKind = false;
    rootEntries.clear();
    failedListings = 0;
    entryCount = 0;
    entryLimitReached = false;
    rootKindOverdue = false;
    lastListingError.clear();

    rootItem = new QTreeWidgetItem(tree);
    rootItem->setText(0, QStringLiteral("."));
    rootItem->setText(2, rootCid);
    rootItem->setData(0, RelativePathRole, QString());
    rootItem->setData(0, CidRole, rootCid);
    rootItem->setData(0, IsDirectoryRole, true);
    rootItem->setData(0, SizeRole, qint64(0));
    rootItem->setData(0, GuessExtensionRole, false);

    pendingItems.insert(rootCid, qMakePair(rootItem, QString()));
    pendingListings = 1;
    listingTimer->start();
    client->fetchLs(rootCid);
}

void PinContentsDialog::onLsReceived(const QString& cid, const QList<LsEntry>& entries)
{
    const auto it = pendingItems.find(cid);
    if (it == pendingItems.end())
        return;
    const auto [item, path] = it.value();
    pendingItems.erase(it);

    if (cid == rootCid && path.isEmpty() && !rootKindRequested && looksLikeChunkedFileLinks(entries)) {
        // Links with no names or digit names are what a chunked file looks like; ask before
        // showing them as files.
        rootKindRequested = true;
        awaitingRootKind = true;
        statusLabel->setText(QStringLiteral("Detecting root type…"));
        rootEntries = entries;
        client->fetchKind(rootCid);
    } else {
        addLsEntries(entries, item, path);
    }

    --pendingListings;
    if (pendingListings > 0 || awaitingRootKind)
        listingTimer->start();
    maybeFinishLoading();
}

bool PinContentsDialog::looksLikeChunkedFileLinks(const QList<LsEntry>& entries)
{
    if (entries.isEmpty())
        return false;
    for (const LsEntry& entry : entries) {
        if (entry.type == 1 || !isDecimalDigits(entry.name.trimmed()))
            return false;
    }
    return true;
}

void PinContentsDialog::addLsEntries(
    const QList<LsEntry>& entries, QTreeWidgetItem* parentItem, const QString& parentPath)
{
    UniqueNames& taken = takenNames[parentItem];
    QList<QTreeWidgetItem*> children;
    children.reserve(entries.size());
    for (const LsEntry& entry : entries) {
        if (entryCount >= entryLimit) {
            entryLimitReached = true;
            break;
        }
        ++entryCount;
        const QString baseName = entry.name.trimmed().isEmpty() ? entry.hash.left(12) : entry.name;
        // Names are made safe and, if two sanitise alike, unique, so no save overwrites another.
        const QString component = uniqueFilenameComponent(sanitizeFilenameComponent(baseName), taken);
        const QString relativePath
            = parentPath.isEmpty() ? component : parentPath + QLatin1Char('/') + component;
        const bool isDirectory = entry.type == 1;

        auto* item = new QTreeWidgetItem;
        item->setText(0, component);
        item->setText(1, isDirectory ? QString() : formatSize(entry.size));
        item->setText(2, entry.hash);
        item->setData(0, RelativePathRole, relativePath);
        item->setData(0, CidRole, entry.hash);
        item->setData(0, IsDirectoryRole, isDirectory);
        item->setData(0, SizeRole, entry.size);
        item->setData(0, GuessExtensionRole, false);
        children.append(item);

        // A folder that names itself or one of its ancestors would make the walk endless.
        if (isDirectory && !entry.hash.isEmpty() && !isAncestorCid(parentItem, entry.hash)) {
            pendingItems.insert(entry.hash, qMakePair(item, relativePath));
            ++pendingListings;
            client->fetchLs(entry.hash);
        }
    }
    parentItem->addChildren(children);
}

bool PinContentsDialog::isAncestorCid(QTreeWidgetItem* item, const QString& cid) const
{
    for (QTreeWidgetItem* walk = item; walk; walk = walk->parent()) {
        if (walk->data(0, CidRole).toString() == cid)
            return true;
    }
    return false;
}

void PinContentsDialog::onKindReceived(const QString& cid, const QString& kind)
{
    if (!awaitingRootKind || cid != rootCid)
        return;
    awaitingRootKind = false;
    if (kind == QLatin1String("File")) {
        if (rootKindOverdue)
            removeProvisionalRootLinks();
        addRootAsSingleFileLeaf();
    } else if (!rootKindOverdue && !rootEntries.isEmpty() && rootItem) {
        addLsEntries(rootEntries, rootItem, QString());
    }
    rootEntries.clear();
    maybeFinishLoading();
}

void PinContentsDialog::removeProvisionalRootLinks()
{
    // Only the held-back links of a file's blocks hang below the root at this point: no folders.
    const QList<QTreeWidgetItem*> links = rootItem->takeChildren();
    entryCount -= int(links.size());
    qDeleteAll(links);
    takenNames.remove(rootItem);
}

void PinContentsDialog::addRootAsSingleFileLeaf()
{
    if (!rootItem || rootItem->childCount() > 0)
        return;
    qint64 size = 0;
    QString name;
    for (const LsEntry& entry : std::as_const(rootEntries)) {
        if (entry.size >= 0)
            size += entry.size;
        if (name.isEmpty())
            name = entry.parent.trimmed();
    }
    if (name.isEmpty())
        name = displayName.trimmed();
    if (name.isEmpty())
        name = rootCid; // a pin without a name is known by its CID
    const QString component = sanitizeFilenameComponent(name);

    auto* item = new QTreeWidgetItem(rootItem);
    item->setText(0, component);
    item->setText(1, size > 0 ? formatSize(size) : QString());
    item->setText(2, rootCid);
    item->setData(0, RelativePathRole, sanitizeRelativePath(component));
    item->setData(0, CidRole, rootCid);
    item->setData(0, IsDirectoryRole, false);
    item->setData(0, SizeRole, size);
    item->setData(0, GuessExtensionRole, true);
}

void PinContentsDialog::onErrorOccurred(const QString& message)
{
    if (pendingListings <= 0)
        return;
    // A failed listing is also answered by an empty lsReceived, which is what counts it as done;
    // counting the error too would end the walk while other folders are still loading.
    statusLabel->setText(QStringLiteral("Error: %1").arg(message));
    if (isOwnListingError(message)) {
        ++failedListings;
        lastListingError = message;
    }
    DialogSizing::requestRefit(this);
}

bool PinContentsDialog::isOwnListingError(const QString& message) const
{
    const QLatin1String prefix("List failed for ");
    if (!message.startsWith(prefix))
        return false;
    const qsizetype end = message.indexOf(QLatin1String(": "), prefix.size());
    return end > 0 && pendingItems.contains(message.mid(prefix.size(), end - prefix.size()));
}

void PinContentsDialog::maybeFinishLoading()
{
    if (pendingListings > 0 || (awaitingRootKind && !rootKindOverdue))
        return;
    if (rootItem && rootItem->childCount() == 0 && !rootKindRequested) {
        // An empty listing is what a small single-block file gives.
        rootKindRequested = true;
        awaitingRootKind = true;
        statusLabel->setText(QStringLiteral("Detecting root type…"));
        listingTimer->start();
        client->fetchKind(rootCid);
        return;
    }
    listingTimer->stop();
    showLoadedSummary();
}

void PinContentsDialog::onListingStalled()
{
    if (awaitingRootKind && !rootKindOverdue) {
        // Show the held-back links as they are rather than nothing; a late kind still decides.
        rootKindOverdue = true;
        if (!rootEntries.isEmpty() && rootItem)
            addLsEntries(rootEntries, rootItem, QString());
        // The lookup shares the window's metadata queue, whose next refresh drops it unanswered:
        // ask again (nothing is sent while it is still queued or in flight).
        client->fetchKind(rootCid);
    }
    showLoadedSummary();
}

void PinContentsDialog::showLoadedSummary()
{
    // Late answers during a save still extend the tree, but must not re-enable the buttons.
    if (saveRunning() || !rootItem)
        return;
    int files = 0;
    int folders = 0;
    QQueue<QTreeWidgetItem*> queue;
    for (int i = 0; i < rootItem->childCount(); ++i)
        queue.enqueue(rootItem->child(i));
    while (!queue.isEmpty()) {
        QTreeWidgetItem* item = queue.dequeue();
        if (item->data(0, IsDirectoryRole).toBool())
            ++folders;
        else
            ++files;
        for (int i = 0; i < item->childCount(); ++i)
            queue.enqueue(item->child(i));
    }

    QString text = QStringLiteral("%1 file(s), %2 folder(s)").arg(files).arg(folders);
    if (pendingListings > 0 || (awaitingRootKind && !rootKindOverdue))
        text += QStringLiteral(" — incomplete: the node did not answer for %1 folder(s)")
                    .arg(qMax(pendingListings, 1));
    else if (awaitingRootKind)
        text += QStringLiteral(" — root type not known yet");
    else if (failedListings > 0)
        text += QStringLiteral(" — incomplete: %1 folder(s) could not be listed (%2)")
                    .arg(failedListings)
                    .arg(lastListingError);
    if (entryLimitReached)
        text += QStringLiteral(" — incomplete: stopped after %1 entries").arg(entryLimit);
    statusLabel->setText(text);

    rootItem->setExpanded(true);
    saveAllButton->setEnabled(true);
    saveSelectedButton->setEnabled(true);
    DialogSizing::requestRefit(this);
}
