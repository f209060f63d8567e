#pragma once

#include "ipfsrecords.h"
#include "pinlistparser.h"
#include "unpinreport.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

class QIODevice;
class QNetworkReply;
class QNetworkRequest;

// The one asynchronous client of a Kubo node's RPC API. Every operation returns at once
// and answers only through signals.
class IpfsClient : public QObject
{
    Q_OBJECT

public:
    // Bounds one kind of per-CID metadata request.
    struct RequestQueue {
        QStringList pending;
        QSet<QString> queued;
        int active = 0;
        quint64 generation = 0; // counts the cancels that emptied the queue

        bool enqueue(const QString& cid);
    };

    explicit IpfsClient(QObject* parent = nullptr);

    void setEndpoint(const QString& host, quint16 port);
    QString baseUrl() const;
    // A request during which the node sends nothing for this long fails, so that no window waits
    // for ever on a node that hangs; 0 waits for ever. Applies to requests sent afterwards, except
    // a garbage collection, which may rightly stay silent for longer (its window can be closed).
    void setTransferTimeout(int milliseconds) { transferTimeoutMs = milliseconds; }
    QString endpointHost() const { return host; }
    quint16 endpointPort() const { return port; }

    // Identity and reachability.
    void fetchNodeInfo();
    void ping();

    // Pin lists and unpinned local content.
    // `heldCids`: CIDs the caller already holds, in UTF-16 order. Entries of a list sorted by CID
    // ("recursive+direct") share the text of these instead of a copy of their own, so that a refresh
    // of a full table does not hold every CID twice.
    void fetchPins(const QString& type, const QString& cidBase, bool upgradeCidV0, QStringList heldCids = {});
    void fetchUnpinned();
    void cancelActiveLoading();

    // Per-CID metadata, through bounded queues.
    void fetchRefs(const QString& cid);
    void fetchObjectStat(const QString& cid);
    void fetchKind(const QString& cid);
    // Requests waiting for a free slot: a caller with many CIDs hands them over as these drain.
    int waitingSizeRequests() const { return int(dagStatQueue.pending.size()); }
    int waitingKindRequests() const { return int(kindQueue.pending.size()); }

    // Removes the pins of these CIDs. With toCidV0, a dag-pb CID is looked for as CIDv0 and as
    // CIDv1, since a listing may print a CIDv0 pin in its CIDv1 form. Unpins run one after another;
    // each ends with unpinned (when it removed any) and unpinFinished.
    void unpin(const QStringList& cids, bool toCidV0);
    // The same for listed pins, whose types tell where to look; indirect ones cannot be removed on
    // their own and are left out, counted in the report.
    void unpinPins(const QList<PinEntry>& pins, bool toCidV0);

    // Directory listing and content.
    void fetchLs(const QString& cid);
    void fetchCat(const QString& cid);

    // Node config.
    void fetchConfig();
    void fetchConfigKey(const QString& key, bool expandAuto);
    void setConfigKey(const QString& key, const QString& value, bool boolFlag, bool jsonFlag);
    void replaceConfig(const QByteArray& bytes);

    // Statistics and repository.
    void fetchDhtStats(const QString& arg);
    void fetchBitswapStat(bool verbose, bool human);
    void fetchRepoStat();
    void runRepoGc();

    // Swarm and bootstrap.
    void fetchSwarmPeers();
    void fetchSwarmAddrs();
    void fetchSwarmListenAddrs();
    void swarmConnect(const QString& multiaddr);
    void swarmDisconnect(const QString& multiaddr);
    void fetchBootstrapPeers(bool expandAuto);
    void bootstrapAddPeer(const QString& address);
    void bootstrapRemovePeers(const QStringList& addresses);
    void bootstrapRemoveAllPeers();

    // Adding content and remote pinning.
    void addLocalPaths(const QList<LocalPathSelection>& selections, const AddOptions& options);
    // Per service, a few pin requests and one status request are in flight; the rest wait their turn.
    void remotePinAdd(const QString& cid, const QString& service, const QString& name, bool background);
    // Answers once per CID given (remotePinStatusReceived or remotePinStatusFailed).
    void fetchRemotePinStatus(const QStringList& cids, const QString& service);
    void fetchRemotePinStatus(const QString& cid, const QString& service)
    {
        fetchRemotePinStatus(QStringList { cid }, service);
    }
    void fetchRemoteServices(bool stat, const QString& name);
    void testRemoteService(const QString& name);
    void addRemoteService(const QString& name, const QString& endpoint, const QString& key);
    void removeRemoteService(const QString& name);

    // IPNS.
    void fetchIpnsKeys();
    void publishIpns(const QString& path, const QString& key);
    void resolveIpns(const QString& name);

signals:
    void rpcRequestIssued(const QString& requestDescription);
    void pinsReceived(const QList<PinEntry>& pins);
    void streamEntriesLoaded(const QString& source, int count);
    void unpinned(const QStringList& cids); // the caller's CIDs whose pins are gone
    void unpinFinished(const UnpinReport& report);
    void refsReceived(const QString& rootCid, const QStringList& cids);
    // A refs request that failed: the refs are not known (no refsReceived follows).
    void refsFailed(const QString& rootCid, const QString& message);
    // cancelActiveLoading dropped every pin, refs, size and kind request: none of them will answer.
    void activeLoadingCancelled();
    void nodeInfoReceived(const QString& nodeId, const QString& agentVersion);
    void errorOccurred(const QString& message);
    void connectionStatusChanged(bool connected);
    void lsReceived(const QString& cid, const QList<LsEntry>& entries);
    void catReceived(const QString& cid, const QByteArray& data);
    void catFailed(const QString& cid, const QString& errorMessage);
    void dagStatReceived(const QString& cid, qint64 cumulativeSize);
    void kindReceived(const QString& cid, const QString& kind);
    // A kind lookup that failed: the kind is not known (a size that failed arrives as
    // dagStatReceived with -1).
    void kindFailed(const QString& cid, const QString& message);
    void configReceived(const QJsonObject& config);
    void configFailed(const QString& message);
    void configKeyReceived(const QString& key, const QJsonValue& value);
    void configKeyRequestFailed(const QString& message);
    void configKeySet(const QString& key, const QJsonValue& value);
    void configKeySetFailed(const QString& message);
    void configReplaceSucceeded();
    void configReplaceFailed(const QString& message);
    void dhtStatsReceived(const QJsonValue& data);
    void dhtStatsFailed(const QString& message);
    void bitswapStatReceived(const QJsonObject& stat);
    void bitswapStatFailed(const QString& message);
    void repoStatReceived(const QJsonObject& stat);
    void repoStatFailed(const QString& message);
    void repoGcCompleted(const QStringList& collectedCids, const QStringList& errors);
    void repoGcFailed(const QString& message);
    void swarmPeersReceived(const QStringList& peers);
    void swarmAddrsReceived(const QHash<QString, QStringList>& peerAddrs);
    void swarmListenAddrsReceived(const QStringList& listenAddrs);
    void swarmConnectResult(const QString& target, bool ok, const QStringList& messages);
    void swarmDisconnectResult(const QString& target, bool ok, const QStringList& messages);
    void swarmRequestFailed(const QString& operation, const QString& message);
    void bootstrapPeersReceived(const QStringList& peers);
    void bootstrapAddResult(const QString& peer, bool ok, const QStringList& peers);
    void bootstrapRemoveResult(const QStringList& removed, bool ok, const QStringList& peers);
    void bootstrapRequestFailed(const QString& operation, const QString& message);
    void addProgress(const QString& currentName, int processedEntries, int totalFiles);
    void addCompleted(const QString& rootCid, const QList<AddEntry>& entries);
    void addFailed(const QString& message);
    void remoteServicesReceived(const QList<RemoteServiceEntry>& services);
    void remoteServicesFailed(const QString& message);
    void remoteServiceAdded(const QString& name);
    void remoteServiceAddFailed(const QString& message);
    void remoteServiceRemoved(const QString& name);
    void remoteServiceRemoveFailed(const QString& message);
    void remoteServiceTested(const QString& name, bool ok, const QString& message);
    void remotePinQueued(const QString& cid, const QString& service);
    void remotePinQueueFailed(const QString& cid, const QString& service, const QString& message);
    void remotePinStatusReceived(const QString& cid, const QString& service, const QString& status);
    void remotePinStatusFailed(const QString& cid, const QString& service, const QString& message);
    void ipnsKeysReceived(const QList<IpnsKeyEntry>& keys);
    void ipnsKeysFailed(const QString& message);
    void ipnsPublished(const IpnsPublishResult& result);
    void ipnsPublishFailed(const QString& message);
    void ipnsResolved(const IpnsResolveResult& result);
    void ipnsResolveFailed(const QString& message);

private slots:
    void onPinsReplyReadyRead(QNetworkReply* reply);
    void onPinsReplyFinished(QNetworkReply* reply);
    void onRefsLocalReplyReadyRead(QNetworkReply* reply);
    void onRefsLocalReplyFinished(QNetworkReply* reply);
    void onRefsReplyFinished(QNetworkReply* reply);
    void onNodeInfoReplyFinished(QNetworkReply* reply);
    void onLsReplyFinished(QNetworkReply* reply);
    void onCatReplyFinished(QNetworkReply* reply);
    void onObjectStatReplyFinished(QNetworkReply* reply);
    void onFilesStatReplyFinished(QNetworkReply* reply);
    void onKindLsReplyFinished(QNetworkReply* reply);
    void onConfigReplyFinished(QNetworkReply* reply);
    void onConfigKeyGetReplyFinished(QNetworkReply* reply);
    void onConfigKeySetReplyFinished(QNetworkReply* reply);
    void onConfigReplaceReplyFinished(QNetworkReply* reply);
    void onDhtStatsReplyFinished(QNetworkReply* reply);
    void onBitswapStatReplyFinished(QNetworkReply* reply);
    void onRepoStatReplyFinished(QNetworkReply* reply);
    void onRepoGcReplyFinished(QNetworkReply* reply);
    void onSwarmPeersReplyFinished(QNetworkReply* reply);
    void onSwarmAddrsReplyFinished(QNetworkReply* reply);
    void onSwarmListenAddrsReplyFinished(QNetworkReply* reply);
    void onSwarmConnectReplyFinished(QNetworkReply* reply);
    void onSwarmDisconnectReplyFinished(QNetworkReply* reply);
    void onBootstrapListReplyFinished(QNetworkReply* reply);
    void onBootstrapAddReplyFinished(QNetworkReply* reply);
    void onBootstrapRmReplyFinished(QNetworkReply* reply);
    void onBootstrapRmAllReplyFinished(QNetworkReply* reply);
    void onAddReplyReadyRead(QNetworkReply* reply);
    void onAddReplyFinished(QNetworkReply* reply);
    void onRemoteServicesReplyFinished(QNetworkReply* reply);
    void onRemoteServiceAddReplyFinished(QNetworkReply* reply);
    void onRemoteServiceRmReplyFinished(QNetworkReply* reply);
    void onRemotePinAddReplyFinished(QNetworkReply* reply);
    void onRemotePinLsReplyFinished(QNetworkReply* reply);
    void onIpnsKeysReplyFinished(QNetworkReply* reply);
    void onIpnsPublishReplyFinished(QNetworkReply* reply);
    void onIpnsResolveReplyFinished(QNetworkReply* reply);

private:
    // Request frame.
    QNetworkRequest buildRequest(const QString& path, const QUrlQuery& query);
    QNetworkReply* postRequest(const QString& path, const QUrlQuery& query);
    // Sends a built request with its body (a device becomes the reply's child).
    QNetworkReply* send(const QNetworkRequest& request, const QByteArray& body);
    QNetworkReply* send(const QNetworkRequest& request, QIODevice* body);
    KuboReplyResult parseKuboReply(QNetworkReply* reply, const QString& action);

    // Pin lists.
    void startPinsRequest(
        const QString& type, const QString& cidBase, bool upgradeCidV0, bool compositeBatch);
    void registerLoadReply(QNetworkReply* reply);
    void deliverRefs(const QString& rootCid, const QStringList& refs, const QString& error);
    void deliverParsedPins(QList<PinEntry> pins, int total, const QString& tag, int count,
        bool compositeBatch, bool forUnpinned, quint64 epoch);
    void finishUnpinnedFetch();
    void resetUnpinnedState();

    // Metadata queues.
    void pumpRefsQueue();
    void pumpDagStatQueue();
    void pumpKindQueue();
    void finishRefsRequest(const QString& cid);
    void finishDagStatRequest(const QString& cid);
    void finishKindRequest(const QString& cid);
    QString codecKindFromCid(const QString& cid) const;

    // Unpin: the first job runs, the others wait for it.
    struct UnpinJob;
    void queueUnpin(const QSharedPointer<UnpinJob>& job);
    void pumpUnpin(const QSharedPointer<UnpinJob>& job);
    void sendUnpinLookup(const QSharedPointer<UnpinJob>& job, const QString& type, const QStringList& args);
    void sendUnpinListing(const QSharedPointer<UnpinJob>& job, const QString& type);
    void sendUnpinRemoval(const QSharedPointer<UnpinJob>& job, const QStringList& args);
    void onUnpinLookupFinished(const QSharedPointer<UnpinJob>& job, QNetworkReply* reply, const QStringList& args);
    void onUnpinListingFinished(const QSharedPointer<UnpinJob>& job, QNetworkReply* reply);
    void onUnpinRemovalFinished(const QSharedPointer<UnpinJob>& job, QNetworkReply* reply);

    // Remote pinning (ipfsclient_remote.cpp): what waits for its turn at each service.
    struct RemotePinAddRequest {
        QString cid;
        QString name;
        bool background = false;
    };
    struct RemotePinTraffic {
        QList<RemotePinAddRequest> waitingAdds;
        int addsInFlight = 0;
        QStringList waitingStatus;
        QSet<QString> waitingStatusSet;
        bool statusInFlight = false;
    };
    void pumpRemotePinAdds(const QString& service);
    void pumpRemotePinStatus(const QString& service);
    void finishRemotePinTraffic(const QString& service);

    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 5001;
    // Generous: a DAG walk or a slow disk may keep the node silent for minutes.
    int transferTimeoutMs = 5 * 60 * 1000;
    bool unpinnedActive = false;
    bool unpinnedPinsDone = false;
    bool unpinnedRefsDone = false;
    // The two halves as they came: both are read into sets on a worker, not here, since a node
    // may hold millions of blocks.
    QList<PinEntry> unpinnedPins;
    QByteArrayList unpinnedLocalRefs;
    // Each "/refs/local" stream's pieces so far, and its line count for the progress line.
    struct RefsLocalStream {
        QByteArrayList pieces;
        PinLineCounter lines;
    };
    QHash<QNetworkReply*, RefsLocalStream> refsLocalStreams;
    RequestQueue dagStatQueue;
    RequestQueue kindQueue;
    RequestQueue refsQueue;
    int compositePending = 0;
    // The batch of "recursive+direct" delivered first, sorted by CID, until the other one is in.
    QList<PinEntry> compositeFirstBatch;
    bool compositeBatchDelivered = false; // a batch of the current combined load has been parsed
    QStringList pinsHeldCids; // offered by the current load until its last batch is parsed
    int compositeParsesStarted = 0;
    quint64 pinsEpoch = 0;
    QSet<QNetworkReply*> activeLoadReplies;
    // Body and line scan of each pin listing in flight, beside the reply rather than in its "rawData"
    // property: a QByteArray read back from a property and appended to detaches and copies the whole
    // body on every chunk. The body is kept as the slices read, joined by the parsing worker, so the
    // GUI thread never copies a large buffer to grow it.
    struct PinStream {
        QByteArrayList slices;
        PinLineCounter lines;
        bool sliceScheduled = false; // the next slice is read on a later turn of the event loop
    };
    QHash<QNetworkReply*, PinStream> pinStreams;
    QList<QSharedPointer<UnpinJob>> unpinJobs;
    QHash<QNetworkReply*, QByteArray> addLineBuffers;
    QHash<QNetworkReply*, QList<AddEntry>> addEntriesByReply;
    QHash<QNetworkReply*, int> addFileCounts;
    QHash<QNetworkReply*, AddOptions> addOptionsByReply;
    QHash<QNetworkReply*, QString> addStreamErrors;
    QHash<QString, RemotePinTraffic> remotePinTraffic; // by service
};
