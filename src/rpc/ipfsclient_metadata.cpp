#include "ipfsclient.h"

#include "jsonnumber.h"
#include "lsparser.h"
#include "offguithread.h"
#include "refsparser.h"
#include "replyerrors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Requests in flight per queue: enough to keep the node busy without flooding it.
constexpr int kMaxRefsInFlight = 8;
constexpr int kMaxDagStatsInFlight = 24;
constexpr int kMaxKindsInFlight = 24;
// A refs body below this is read at once (a few milliseconds); a larger one on a worker.
constexpr qsizetype kRefsReadHereBytes = 256 * 1024;

// Sends waiting CIDs, oldest first, while the queue has room. A sent CID stays in `queued`
// until its request finishes, so asking again meanwhile is free.
template <typename Send> void pumpQueue(IpfsClient::RequestQueue& queue, int limit, Send&& send)
{
    while (queue.active < limit && !queue.pending.isEmpty()) {
        const QString cid = queue.pending.takeFirst();
        ++queue.active;
        send(cid);
    }
}

void finishQueued(IpfsClient::RequestQueue& queue, const QString& cid)
{
    queue.queued.remove(cid);
    if (queue.active > 0)
        --queue.active;
}

bool isCancelled(const QNetworkReply* reply)
{
    return reply->property("cancelledByClient").toBool();
}

// Total size from a "/dag/stat" body: newer nodes send "TotalSize", older ones "Size".
qint64 dagSizeFromBody(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return -1;
    const QJsonObject stat = document.object();
    for (const QLatin1String key : { "TotalSize"_L1, "CumulativeSize"_L1, "Size"_L1 }) {
        if (stat.contains(key))
            return jsonToInt64(stat.value(key));
    }
    return -1;
}

// The kind named by a "/files/stat" body, or empty when it names none we know.
QString kindFromFilesStat(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return {};
    const QString type = document.object().value("Type"_L1).toString();
    if (type == "directory"_L1 || type == "Directory"_L1)
        return u"Directory"_s;
    if (type == "file"_L1 || type == "File"_L1)
        return u"File"_s;
    if (type == "symbolic-link"_L1 || type == "SymbolicLink"_L1 || type == "symlink"_L1
        || type == "Symlink"_L1)
        return u"Symlink"_s;
    return {};
}

bool isDecimalNumber(const QString& name)
{
    if (name.isEmpty())
        return false;
    const QList<uint> codePoints = name.toUcs4();
    return std::all_of(codePoints.cbegin(), codePoints.cend(),
        [](uint codePoint) { return QChar::isDigit(char32_t(codePoint)); });
}

// Links named only by numbers are the parts of one file; any other name means a directory.
QString kindFromLinks(const QList<LsEntry>& links)
{
    if (links.isEmpty())
        return u"Other"_s;
    const bool numbered = std::all_of(
        links.cbegin(), links.cend(), [](const LsEntry& link) { return isDecimalNumber(link.name); });
    return numbered ? u"File"_s : u"Directory"_s;
}

} // namespace

bool IpfsClient::RequestQueue::enqueue(const QString& cid)
{
    // One lookup: a million CIDs are queued in a few slices.
    const qsizetype before = queued.size();
    queued.insert(cid);
    if (queued.size() == before)
        return false;
    pending.append(cid);
    return true;
}

void IpfsClient::fetchRefs(const QString& cid)
{
    if (cid.isEmpty() || !refsQueue.enqueue(cid))
        return;
    pumpRefsQueue();
}

void IpfsClient::fetchObjectStat(const QString& cid)
{
    if (cid.isEmpty() || !dagStatQueue.enqueue(cid))
        return;
    pumpDagStatQueue();
}

void IpfsClient::fetchKind(const QString& cid)
{
    if (cid.isEmpty() || !kindQueue.enqueue(cid))
        return;
    pumpKindQueue();
}

void IpfsClient::pumpRefsQueue()
{
    pumpQueue(refsQueue, kMaxRefsInFlight, [this](const QString& cid) {
        QUrlQuery query;
        query.addQueryItem(u"arg"_s, cid);
        query.addQueryItem(u"recursive"_s, u"true"_s);
        // Each block once: without it a block is listed once per link that reaches it.
        query.addQueryItem(u"unique"_s, u"true"_s);
        QNetworkReply* reply = postRequest(u"/refs"_s, query);
        registerLoadReply(reply);
        reply->setProperty("rootCid", cid);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onRefsReplyFinished(reply); });
    });
}

void IpfsClient::pumpDagStatQueue()
{
    pumpQueue(dagStatQueue, kMaxDagStatsInFlight, [this](const QString& cid) {
        QUrlQuery query;
        query.addQueryItem(u"arg"_s, cid);
        query.addQueryItem(u"progress"_s, u"false"_s);
        // Without it the node fetches every missing block from the network to size a DAG (a direct
        // pin's children, typically): gigabytes nobody asked for, and a queue slot held for hours.
        query.addQueryItem(u"offline"_s, u"true"_s);
        QNetworkReply* reply = postRequest(u"/dag/stat"_s, query);
        registerLoadReply(reply);
        reply->setProperty("cid", cid);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onObjectStatReplyFinished(reply); });
    });
}

void IpfsClient::pumpKindQueue()
{
    pumpQueue(kindQueue, kMaxKindsInFlight, [this](const QString& cid) {
        QUrlQuery query;
        query.addQueryItem(u"arg"_s, u"/ipfs/%1"_s.arg(cid));
        QNetworkReply* reply = postRequest(u"/files/stat"_s, query);
        registerLoadReply(reply);
        reply->setProperty("cid", cid);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onFilesStatReplyFinished(reply); });
    });
}

void IpfsClient::finishRefsRequest(const QString& cid)
{
    finishQueued(refsQueue, cid);
    pumpRefsQueue();
}

void IpfsClient::finishDagStatRequest(const QString& cid)
{
    finishQueued(dagStatQueue, cid);
    pumpDagStatQueue();
}

void IpfsClient::finishKindRequest(const QString& cid)
{
    finishQueued(kindQueue, cid);
    pumpKindQueue();
}

// A reply aborted by cancelActiveLoading was already dropped from its queue by the cancel,
// so its handler leaves the queue alone: requests sent since then keep their slots and CIDs.

void IpfsClient::onRefsReplyFinished(QNetworkReply* reply)
{
    const QString rootCid = reply->property("rootCid").toString();
    reply->deleteLater();
    if (isCancelled(reply))
        return;
    if (reply->error() != QNetworkReply::NoError) {
        deliverRefs(rootCid, {}, replyErrorString(reply));
        return;
    }
    QByteArray body = reply->readAll();
    if (body.size() < kRefsReadHereBytes) {
        deliverRefs(rootCid, parseRefsReply(body), refsWalkError(body));
        return;
    }
    // A large DAG lists millions of refs: they are read on a worker. The request keeps its queue
    // slot until they are in, so that at most a queue's worth of bodies wait to be read.
    const QPointer<IpfsClient> client(this);
    const quint64 generation = refsQueue.generation;
    runOffGuiThread(
        [body = std::move(body)]() mutable {
            std::pair<QStringList, QString> read { parseRefsReply(body), refsWalkError(body) };
            body = QByteArray();
            return read;
        },
        [client, rootCid, generation](std::pair<QStringList, QString>& read) {
            // A cancel meanwhile dropped this request, as it drops one still in flight.
            if (client && client->refsQueue.generation == generation)
                client->deliverRefs(rootCid, std::exchange(read.first, {}), read.second);
        });
}

// A walk that stopped part-way lists only some refs: that is a failure, not a count; a failure
// leaves the refs unknown, never an empty list.
void IpfsClient::deliverRefs(const QString& rootCid, const QStringList& refs, const QString& error)
{
    if (!error.isEmpty()) {
        emit errorOccurred(u"Failed to get refs for %1: %2"_s.arg(rootCid, error));
        emit refsFailed(rootCid, error);
    } else {
        emit refsReceived(rootCid, refs);
    }
    finishRefsRequest(rootCid);
}

void IpfsClient::onObjectStatReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("cid").toString();
    reply->deleteLater();
    if (isCancelled(reply))
        return;
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        emit errorOccurred(u"DAG stat failed for %1: %2"_s.arg(cid, replyErrorString(reply)));
        emit dagStatReceived(cid, -1);
    } else {
        emit dagStatReceived(cid, dagSizeFromBody(body));
    }
    finishDagStatRequest(cid);
}

void IpfsClient::onFilesStatReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("cid").toString();
    reply->deleteLater();
    if (isCancelled(reply))
        return;
    const QByteArray body = reply->readAll();

    const QString kind = reply->error() == QNetworkReply::NoError ? kindFromFilesStat(body) : QString();
    if (!kind.isEmpty()) {
        emit kindReceived(cid, kind);
        finishKindRequest(cid);
        return;
    }

    // Not a file system node the node could name: decide from its links. The lookup keeps its
    // slot in the queue until the listing answers.
    QUrlQuery query;
    query.addQueryItem(u"arg"_s, cid);
    query.addQueryItem(u"cid-base"_s, u"base32"_s);
    query.addQueryItem(u"upgrade-cidv0-in-output"_s, u"true"_s);
    QNetworkReply* listing = postRequest(u"/ls"_s, query);
    registerLoadReply(listing);
    listing->setProperty("cid", cid);
    connect(listing, &QNetworkReply::finished, this, [this, listing] { onKindLsReplyFinished(listing); });
}

void IpfsClient::onKindLsReplyFinished(QNetworkReply* reply)
{
    const QString cid = reply->property("cid").toString();
    reply->deleteLater();
    if (isCancelled(reply))
        return;
    const QByteArray body = reply->readAll();

    // A listing the node did not give tells nothing: the kind stays unknown, to be asked again.
    if (reply->error() != QNetworkReply::NoError)
        emit kindFailed(cid, replyErrorString(reply));
    else
        emit kindReceived(cid, kindFromLinks(parseLsResponse(body, nullptr)));
    finishKindRequest(cid);
}

QString IpfsClient::codecKindFromCid(const QString& cid) const
{
    // A CID's codec cannot tell a file from a directory; only the node can.
    Q_UNUSED(cid)
    return u"Other"_s;
}
