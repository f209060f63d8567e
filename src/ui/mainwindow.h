#pragma once

#include "connectionstatusdot.h"
#include "ipfsrecords.h"
#include "unpinreport.h"
#include "loglines.h"
#include "metadatafeed.h"
#include "metadataprogress.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QModelIndex;
class QNetworkReply;
class QPoint;
class QProgressDialog;
class QPushButton;
class QRadioButton;
class QSettings;
class QTableView;
class QTimer;
class QToolBar;

class IpfsClient;
class PinFilterProxyModel;
class PinModel;

class ConfigDialog;
class DhtStatsDialog;
class GcDialog;
class NetworkStatsDialog;
class RemoteServicesDialog;
class RpcLogDialog;
class StatusLogDialog;
class SwarmDialog;

// The application's main window: the pin table and everything that works on it.
// The implementation is split by concern: mainwindow.cpp (construction, settings),
// mainwindow_ui.cpp (menus, tool bar, table, status bar), mainwindow_status.cpp (status line,
// banner, logs), mainwindow_refresh.cpp, mainwindow_metadata.cpp, mainwindow_add.cpp,
// mainwindow_pinactions.cpp, mainwindow_ipns.cpp, mainwindow_auxwindows.cpp, mainwindow_update.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // How an auxiliary window opens: inside the main window's family or on its own.
    enum AuxWindowMode { ChildWindow = 0, SeparateWindow = 1 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Status line, banner and logs (mainwindow_status.cpp).
    void setStatusMessage(const QString& message);
    void showNotification(const QString& text, bool warning);
    void setConnectionDotState(ConnectionStatusDot::State state, const QString& detail);
    // Returns the status to "Ready" after delayMs unless a message that no longer satisfies
    // stillTransient has replaced it meanwhile.
    void scheduleStatusReset(int delayMs, std::function<bool(const QString&)> stillTransient);
    // The logs keep their newest lines; the dropped counts say how many older ones went.
    QStringList rpcLog() const { return rpcLogLines.lines(); }
    QStringList statusLog() const { return statusLogLines.lines(); }
    qint64 rpcLogDropped() const { return rpcLogLines.dropped(); }
    qint64 statusLogDropped() const { return statusLogLines.dropped(); }
    qsizetype rpcLogLineLimit() const { return rpcLogLines.limit(); }
    qsizetype statusLogLineLimit() const { return statusLogLines.limit(); }
    void clearRpcLog() { rpcLogLines.clear(); }
    void clearStatusLog() { statusLogLines.clear(); }

    // Auxiliary and log windows, one instance each (mainwindow_auxwindows.cpp).
    void showGcDialog(AuxWindowMode mode);
    void showDhtStatsDialog(AuxWindowMode mode);
    void showNetworkDialog(AuxWindowMode mode);
    void showSwarmDialog(AuxWindowMode mode);
    void showConfigDialog(AuxWindowMode mode);
    void showRemoteServicesDialog(AuxWindowMode mode);
    void showStatusLogDialog(AuxWindowMode mode);
    void showRpcLogDialog(AuxWindowMode mode);
    void configureAuxDialogWindowMode(QDialog* dialog, AuxWindowMode mode);

    // Asks the product site for the latest version (mainwindow_update.cpp).
    void checkForUpdates();
    // The site asked instead of the build's (tests point it at a local server).
    void setUpdateSiteUrl(const QString& url) { updateSiteUrl = url; }
    // How long the check waits for the site to send anything before it gives up.
    void setUpdateCheckSilenceLimit(int milliseconds) { updateCheckSilenceLimitMs = milliseconds; }

    // Period of the remote pin status poll, 2500 ms unless a test shortens it
    // (mainwindow_remotepin.cpp).
    void setRemotePinPollInterval(int ms);

signals:
    void rpcLogAppended(const QString& line);
    void statusLogAppended(const QString& line);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onRefreshClicked();
    void onSettingsClicked();
    void onAddToIpfsClicked();
    void onCopySelectedCID();
    void onPinsReceived(const QList<PinEntry>& pins);
    void onPinsApplied();
    void onErrorOccurred(const QString& message);
    void onConnectionStatusChanged(bool connected);
    void onNodeInfoReceived(const QString& nodeId, const QString& agentVersion);
    void onSelectionChanged();
    void onSearchTextChanged(const QString& text);
    void onSearchDebounceTimeout();
    void onTableDoubleClicked(const QModelIndex& index);
    void onTableContextMenuRequested(const QPoint& pos);
    void onAutoRefreshTick();
    void onOpenInGateway();
    void onOpenViaIpnsClicked();
    void onPublishToIpnsClicked();
    void onResolveIpnsClicked();
    void onOpenFromLocal();
    void onUnpinSelected();
    void onUnpinAll();
    void onUnpinned(const UnpinReport& report);
    void onShowIndirectPins(const QString& rootCid);
    void onRefsReceivedForTable(const QString& rootCid, const QStringList& refs);
    void onDagStatReceived(const QString& cid, qlonglong cumulativeSize);
    void onKindReceived(const QString& cid, const QString& kind);
    void onRefsFailedForTable(const QString& rootCid);
    void onKindFailed(const QString& cid);
    void onGcClicked();
    void onDhtStatsClicked();
    void onConfigClicked();
    void onRemoteServicesClicked();
    void onStatusLogClicked();
    void onLogClicked();
    void onRpcRequestIssued(const QString& requestDescription);
    void onAddProgress(const QString& currentName, int processedEntries, int totalFiles);
    void onAddCompleted(const QString& rootCid, const QList<AddEntry>& entries);
    void onAddFailed(const QString& message);
    void onRemotePinQueued(const QString& cid, const QString& service);
    void onRemotePinQueueFailed(const QString& cid, const QString& service, const QString& message);
    void onRemotePinStatusReceived(const QString& cid, const QString& service, const QString& status);
    void onRemotePinStatusFailed(const QString& cid, const QString& service, const QString& message);
    void onRemotePinPollTick();
    void onIpnsKeysReceived(const QList<IpnsKeyEntry>& keys);
    void onIpnsKeysFailed(const QString& message);
    void onIpnsPublished(const IpnsPublishResult& result);
    void onIpnsPublishFailed(const QString& message);
    void onIpnsResolved(const IpnsResolveResult& result);
    void onIpnsResolveFailed(const QString& message);
    void onUpdateCheckFinished(QNetworkReply* reply);

    // Handlers without names of their own in the design.
    void onStreamEntriesLoaded(const QString& source, int count); // refresh
    void onApplicationStateChanged(Qt::ApplicationState state); // refresh
    void onContentComboChanged(int index); // construction
    void onTypeFilterComboChanged(int index); // construction
    void onSearchByCidToggled(bool checked); // construction
    void onSearchByNameToggled(bool checked); // construction
    void showAboutBox(); // construction

private:
    // Construction (mainwindow.cpp, mainwindow_ui.cpp).
    void setupMenuBar();
    void setupToolBar();
    void setupAuxWindowButtons(QToolBar* toolBar);
    void setupCentralWidget();
    void setupStatusBar();
    void loadSettings();
    void saveSettings();

    // Refresh cycle (mainwindow_refresh.cpp).
    void triggerRefresh(bool force);
    void setRefreshing(bool on);
    QStringList cidsToShareWithTheNextList();
    void prepareRoomForSharedCids();
    void updateCountLabels();
    int countUpdateIntervalMs() const;
    int minimumCidColumnWidth() const;
    void scheduleCountUpdate();
    void autoFitColumns();
    void requestSizesAndKinds(); // mainwindow_metadata.cpp
    void requestNextMetadataSlice();
    void feedMetadataRequests();
    void dropMetadataBacklog();
    qint64 visibleDagSizeTotal() const;

    // Pin actions (mainwindow_pinactions.cpp).
    QStringList selectedCids() const;
    QString firstSelectedCid() const;
    int firstSelectedRow() const;
    bool otherRowSelected(int row) const;

    // IPNS flows (mainwindow_ipns.cpp).
    void publishAfterKeyChoice(const QString& cid, bool ok, const QString& answer);

    // Add flow (mainwindow_add.cpp) and its remote-pin follow-up (mainwindow_remotepin.cpp).
    void endAddInProgress();
    void showAddProgress(bool withValue);
    void showAddResult(const QString& rootCid, const QList<AddEntry>& entries);
    QString addResultText() const;
    void updateAddResult();
    void exportCids(const QStringList& cids);
    bool startRemotePinFlow(const QString& rootCid, const QList<AddEntry>& entries);
    bool belongsToRemotePinFlow(const QString& cid, const QString& service) const;
    bool settleRemotePinAnswer(const QString& cid, const QString& service);
    void failRemotePin(const QString& cid, const QString& reason);
    void endRemotePinPoll();
    void setRemotePinStatusLine();
    void finalizeRemotePinFlow();

    // Auxiliary windows (mainwindow_auxwindows.cpp).
    template <typename T>
    void showAuxDialogImpl(
        QPointer<T>& slot, AuxWindowMode mode, const QString& openedText, const QString& closedText);
    // On destruction: no window may reach back into a half-destroyed main window.
    void releaseAuxWindows();

    QTableView* tableView = nullptr;
    QLineEdit* searchEdit = nullptr;
    QRadioButton* searchByCidRadio = nullptr;
    QRadioButton* searchByNameRadio = nullptr;
    QComboBox* contentCombo = nullptr;
    QComboBox* typeFilterCombo = nullptr;
    QPushButton* refreshBtn = nullptr;
    QPushButton* addBtn = nullptr;
    ConnectionStatusDot* statusDot = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* statsLine1 = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* peerIdLabel = nullptr;
    QLabel* notificationLabel = nullptr;
    QAction* unpinSelectedAction = nullptr;
    QAction* unpinAllAction = nullptr;
    QAction* addToIpfsAction = nullptr;
    QAction* openViaIpnsAction = nullptr;
    QAction* publishToIpnsAction = nullptr;
    QAction* resolveIpnsAction = nullptr;
    IpfsClient* client = nullptr;
    PinModel* model = nullptr;
    PinFilterProxyModel* proxy = nullptr;
    QTimer* autoRefreshTimer = nullptr;
    QTimer* searchDebounceTimer = nullptr;
    QTimer* countUpdateTimer = nullptr;
    QSettings* settings = nullptr;
    QPointer<DhtStatsDialog> dhtStatsDialog;
    QPointer<GcDialog> gcDialog;
    QPointer<NetworkStatsDialog> networkStatsDialog;
    QPointer<SwarmDialog> swarmDialog;
    QPointer<ConfigDialog> configDialog;
    QPointer<RemoteServicesDialog> remoteServicesDialog;
    QPointer<RpcLogDialog> rpcLogDialog;
    QPointer<StatusLogDialog> statusLogDialog;
    QProgressDialog* addProgressDialog = nullptr;
    // The newest upload progress, shown once per turn of the event loop (mainwindow_add.cpp).
    struct AddProgressReport {
        QString name;
        int shown = 0;
        int totalFiles = 0;
        bool scheduled = false;
    } addProgressReport;
    QProgressDialog* updateProgressDialog = nullptr;
    int receivedEntryCount = 0; // of the load whose rows the table is being given
    bool awaitingPinsApplied = false;
    LogLines rpcLogLines { LogLines::RpcLimit };
    LogLines statusLogLines { LogLines::StatusLimit };
    QSet<QString> refsRequested;
    MetadataProgress metadataProgress;
    QHash<QString, qint64> dagSizeCache;
    QHash<QString, QString> kindCache;
    QString peerId;
    QString contentMode = QStringLiteral("pinned");
    QString typeFilter = QStringLiteral("recursive+direct");
    int refreshInterval = 30;
    bool autoRefresh = false;
    bool loadMetadata = true;
    bool sendOrigin = false;
    QString originValue;
    bool connected = false;
    bool addInProgress = false;
    bool updateCheckInProgress = false;
    QTimer* remotePinPollTimer = nullptr;
    bool remotePinActive = false;
    int remotePinPollCount = 0;
    QString remotePinService;
    QString remotePinName;
    bool remotePinUnpinLocal = false;
    QSet<QString> remotePinPending;
    QSet<QString> remotePinPinned;
    QHash<QString, QString> remotePinFailed; // CID -> why, in the words of the node where it has any
    QSet<QString> remotePinAwaiting; // CIDs of the running poll whose answers are still to come
    QHash<QString, QString> remotePinLastAnswer; // CID -> last status, or why the last request failed
    // The add result box while it is open; the remote-pin follow-up keeps its text current.
    QPointer<QMessageBox> addResultBox;
    QString addResultDetail;
    bool addResultFollowsRemotePins = false;
    AddOptions pendingAddOptions;
    QString pendingPublishCid;
    qint64 lastCountUpdateMs = 0;
    QHash<QString, int> endpointEntryCounts;
    QString updateSiteUrl; // empty: the build's update site
    int updateCheckSilenceLimitMs = 30 * 1000;
    // The pins of the model's load metadataBacklogLoad whose sizes and kinds are still to be asked
    // for, from metadataBacklogNext on in the order they arrived (mainwindow_metadata.cpp).
    quint64 metadataBacklogLoad = 0;
    int metadataBacklogNext = -1;
    MetadataFeed metadataFeed; // of those looked at, the ones the client has yet to be given
    QStringList sharedCidsRoom; // one empty entry per pin, made ahead for the next refresh

    // Set when destruction begins: windows that die with us must not reach the status line.
    bool shuttingDown = false;
};
