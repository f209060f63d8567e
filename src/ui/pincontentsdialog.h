#pragma once

#include "contentpaths.h"
#include "ipfsrecords.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QPair>
#include <QSet>
#include <QString>

class IpfsClient;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// One file of a save, taken from a tree item.
struct FileTreeNode {
    QString relativePath;
    QString cid;
    qint64 size = 0;
    bool isDirectory = false;
    bool guessExtension = false;
};

// Everything under one pinned CID as a tree, with saving of all or the selected files into a
// local folder. The tree is walked eagerly on open; files are fetched one at a time and written
// on a short-lived worker thread.
class PinContentsDialog : public QDialog
{
    Q_OBJECT

public:
    PinContentsDialog(const QString& rootCid, IpfsClient* client, QWidget* parent = nullptr,
        const QString& displayName = QString());
    ~PinContentsDialog() override;

    // How long the walk waits for the node's next answer before it shows what it has.
    void setListingTimeout(int milliseconds);
    // How many entries the tree takes before the walk stops.
    void setEntryLimit(int entries);

private slots:
    void onLsReceived(const QString& cid, const QList<LsEntry>& entries);
    void onKindReceived(const QString& cid, const QString& kind);
    void onErrorOccurred(const QString& message);
    void onCatReceived(const QString& cid, const QByteArray& data);
    void onCatFailed(const QString& cid, const QString& errorMessage);
    void onSaveAllFiles();
    void onSaveSelected();
    void onAsyncFileWriteFinished(bool ok, const QString& message);
    void onListingStalled();

private:
    enum ItemRole {
        RelativePathRole = Qt::UserRole,
        CidRole,
        IsDirectoryRole,
        SizeRole,
        GuessExtensionRole,
    };

    void buildUi();
    void startLoading();
    void addLsEntries(const QList<LsEntry>& entries, QTreeWidgetItem* parentItem, const QString& parentPath);
    static bool looksLikeChunkedFileLinks(const QList<LsEntry>& entries);
    void addRootAsSingleFileLeaf();
    void removeProvisionalRootLinks();
    void maybeFinishLoading();
    void showLoadedSummary();
    bool isAncestorCid(QTreeWidgetItem* item, const QString& cid) const;
    bool isOwnListingError(const QString& message) const;

    QList<FileTreeNode> allFileNodes() const;
    QList<FileTreeNode> selectedFileNodes() const;
    QList<FileTreeNode> fileNodesBelow(const QList<QTreeWidgetItem*>& start) const;
    void startSave(const QString& folder, const QList<FileTreeNode>& nodes);
    void saveNextSelectedFile();
    void recordSaveFailure(const QString& message);
    void stopSave();
    bool saveRunning() const;
    void writeDownloadedFileAsync(const QString& relativePath, const QByteArray& data);

    QString rootCid;
    QString displayName;
    IpfsClient* client = nullptr;
    QTreeWidget* tree = nullptr;
    QLabel* statusLabel = nullptr;
    QPushButton* saveAllButton = nullptr;
    QPushButton* saveSelectedButton = nullptr;
    QProgressBar* progressBar = nullptr;
    int pendingListings = 0;
    QMultiHash<QString, QPair<QTreeWidgetItem*, QString>> pendingItems;
    bool rootKindRequested = false;
    bool awaitingRootKind = false;
    QList<LsEntry> rootEntries;
    QList<FileTreeNode> saveQueue;
    QString saveDirectory;
    int saveIndex = 0;
    bool writeInProgress = false;

    QTreeWidgetItem* rootItem = nullptr;
    QHash<QTreeWidgetItem*, PinContents::UniqueNames> takenNames; // per folder item
    QTimer* listingTimer = nullptr;
    int failedListings = 0;
    int entryLimit = 0;
    int entryCount = 0;
    bool entryLimitReached = false;
    bool rootKindOverdue = false; // the held-back root links are shown until the kind arrives
    QString lastListingError;
    QString saveBase; // canonical form of saveDirectory; every write stays below it
    int saveFailures = 0;
    QString lastSaveError;
};
