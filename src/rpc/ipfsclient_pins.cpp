#include "ipfsclient.h"

#include "offguithread.h"
#include "pinlistparser.h"
#include "replyerrors.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <memory>

namespace {

constexpr QLatin1String kCompositeType("recursive+direct");
constexpr QLatin1String kPinStreamTag("pin/ls");
constexpr qint64 kReadSliceBytes = 2 * 1024 * 1024;

struct ParsedPinList {
    ParsedPinsPayload payload;
    int count = 0;
};

// The worker's whole job; it sees only its own copies.
// A batch of "recursive+direct" comes sorted by CID, so that joining the two is one pass.
ParsedPinList parseFinishedPinList(
    QByteArray body, qsizetype tailStart, int streamedCount, bool sortedByCid, const QStringList& heldCids)
{
    // An unterminated last line counts only when it is an entry. Looked at first: the sorted
    // reading compacts the body it is given.
    const QByteArray tail = QByteArray::fromRawData(body.constData() + tailStart, body.size() - tailStart);
    PinEntry probe;
    const bool tailIsEntry = !tail.trimmed().isEmpty() && parsePinLsLine(tail, &probe);

    ParsedPinList result;
    result.payload = sortedByCid ? parsePinListBodyByCid(std::move(body), heldCids) : parsePinListBody(body);
    // The object form: report its keys, not the lines it happened to be printed on.
    result.count = result.payload.total > 0 ? result.payload.total : streamedCount + (tailIsEntry ? 1 : 0);
    return result;
}

// One copy; each slice is released as soon as it is in.
QByteArray joinSlices(QByteArrayList slices)
{
    if (slices.size() == 1)
        return slices.takeFirst();
    qsizetype size = 0;
    for (const QByteArray& slice : std::as_const(slices))
        size += slice.size();
    QByteArray body;
    body.reserve(size);
    for (QByteArray& slice : slices) {
        body.append(slice);
        slice = QByteArray();
    }
    return body;
}

} // namespace

void IpfsClient::fetchPins(
    const QString& type, const QString& cidBase, bool upgradeCidV0, QStringList heldCids)
{
    ++pinsEpoch;
    compositeFirstBatch.clear();
    compositeBatchDelivered = false;
    compositeParsesStarted = 0;
    pinsHeldCids = std::move(heldCids);
    if (type == kCompositeType) {
        compositePending = 2;
        startPinsRequest(QStringLiteral("recursive"), cidBase, upgradeCidV0, true);
        startPinsRequest(QStringLiteral("direct"), cidBase, upgradeCidV0, true);
        return;
    }
    compositePending = 0;
    startPinsRequest(type, cidBase, upgradeCidV0, false);
}

void IpfsClient::startPinsRequest(
    const QString& type, const QString& cidBase, bool upgradeCidV0, bool compositeBatch)
{
    const bool all = type.isEmpty() || type == QLatin1String("all");
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("type"), all ? QStringLiteral("all") : type);
    query.addQueryItem(QStringLiteral("names"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("stream"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("cid-base"), cidBase);
    query.addQueryItem(QStringLiteral("upgrade-cidv0-in-output"),
        upgradeCidV0 ? QStringLiteral("true") : QStringLiteral("false"));

    QNetworkReply* reply = postRequest(QStringLiteral("/pin/ls"), query);
    registerLoadReply(reply);
    reply->setProperty("streamTag", QString(kPinStreamTag));
    reply->setProperty("streamCount", 0);
    reply->setProperty("streamBuffer", QByteArray());
    reply->setProperty("rawData", QByteArray());
    reply->setProperty("pinsCompositeBatch", compositeBatch);
    reply->setProperty("forUnpinned", false);
    reply->setProperty("pinsEpoch", QVariant::fromValue(pinsEpoch));
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onPinsReplyReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onPinsReplyFinished(reply); });
}

void IpfsClient::registerLoadReply(QNetworkReply* reply)
{
    if (!reply)
        return;
    activeLoadReplies.insert(reply);
    connect(reply, &QObject::destroyed, this, [this, reply] { activeLoadReplies.remove(reply); });
}

void IpfsClient::cancelActiveLoading()
{
    resetUnpinnedState();

    ++pinsEpoch;
    compositeFirstBatch.clear();
    compositeBatchDelivered = false;
    compositePending = 0;
    compositeParsesStarted = 0;
    pinsHeldCids.clear();

    for (RequestQueue* queue : { &dagStatQueue, &kindQueue, &refsQueue }) {
        queue->pending.clear();
        queue->queued.clear();
        queue->active = 0;
        ++queue->generation;
    }

    // A snapshot: aborting runs the finished handlers, which must see the mark.
    const QList<QNetworkReply*> replies = activeLoadReplies.values();
    for (QNetworkReply* reply : replies) {
        reply->setProperty("cancelledByClient", true);
        reply->abort();
    }
    emit activeLoadingCancelled();
}

void IpfsClient::onPinsReplyReadyRead(QNetworkReply* reply)
{
    if (!reply)
        return;
    if (reply->property("pinsEpoch").toULongLong() != pinsEpoch) {
        if (reply->bytesAvailable() > 0)
            reply->skip(reply->bytesAvailable());
        pinStreams.remove(reply);
        return;
    }
    // A fast node can have tens of megabytes waiting by the time we get here. They are taken one
    // slice per turn of the event loop, so that timers and painting run in between; readyRead
    // signals that arrive while a slice is due add nothing to do.
    PinStream& stream = pinStreams[reply];
    if (stream.sliceScheduled)
        return;
    const qint64 available = qMin(reply->bytesAvailable(), kReadSliceBytes);
    if (available <= 0)
        return;
    if (reply->bytesAvailable() > available) {
        stream.sliceScheduled = true;
        QMetaObject::invokeMethod(
            reply,
            [this, reply] {
                // Gone when the reply was finished or outdated meanwhile: nothing is left to read,
                // and reading would leave an empty stream behind under a pointer soon dangling.
                const auto next = pinStreams.find(reply);
                if (next == pinStreams.end())
                    return;
                next->sliceScheduled = false;
                onPinsReplyReadyRead(reply);
            },
            Qt::QueuedConnection);
    }

    // Lines are only counted here; the worker parses the finished body once.
    const QByteArray slice = reply->read(available);
    stream.slices.append(slice);
    const int previous = reply->property("streamCount").toInt();
    const int count = previous + stream.lines.feed(slice);
    if (count == previous)
        return;
    reply->setProperty("streamCount", count);
    emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
}

void IpfsClient::onPinsReplyFinished(QNetworkReply* reply)
{
    if (!reply)
        return;
    // Drains a slice even when one is already due.
    if (const auto stream = pinStreams.find(reply); stream != pinStreams.end())
        stream->sliceScheduled = false;
    onPinsReplyReadyRead(reply);
    if (reply->bytesAvailable() > 0) {
        // Still more than a slice to read: finish on a later turn, after the rest is in.
        QMetaObject::invokeMethod(
            reply, [this, reply] { onPinsReplyFinished(reply); }, Qt::QueuedConnection);
        return;
    }
    const bool compositeBatch = reply->property("pinsCompositeBatch").toBool();
    const bool forUnpinned = reply->property("forUnpinned").toBool();
    const quint64 epoch = reply->property("pinsEpoch").toULongLong();
    reply->deleteLater();
    PinStream stream = pinStreams.take(reply);

    if (reply->error() != QNetworkReply::NoError) {
        if (epoch != pinsEpoch || reply->property("cancelledByClient").toBool())
            return;
        if (compositeBatch) {
            if (compositePending > 0)
                --compositePending;
            // What the other batch brought is shown; when both failed there is no list to show,
            // and an empty one would wipe the table as if the node had no pins.
            if (compositePending == 0 && compositeBatchDelivered)
                emit pinsReceived(std::exchange(compositeFirstBatch, {}));
        }
        if (unpinnedActive)
            resetUnpinnedState();
        const bool answered = nodeAnswered(reply);
        emit errorOccurred(answered ? QStringLiteral("The node could not list pins: %1").arg(replyErrorString(reply))
                                    : QStringLiteral("Network error: %1").arg(replyErrorString(reply)));
        emit connectionStatusChanged(answered);
        return;
    }
    if (epoch != pinsEpoch)
        return;
    emit connectionStatusChanged(true);
    if (epoch != pinsEpoch) // a receiver began a newer load
        return;

    QByteArrayList slices = std::move(stream.slices);
    const qsizetype tailStart = stream.lines.tailStart();
    const int streamedCount = reply->property("streamCount").toInt();
    const QString tag = reply->property("streamTag").toString();
    // Tested on this thread when the result is handed over: the client may be gone by then.
    const QPointer<IpfsClient> client(this);
    const auto deliver = [client, tag, compositeBatch, forUnpinned, epoch](ParsedPinList& parsed) {
        if (client)
            client->deliverParsedPins(std::move(parsed.payload.pins), parsed.payload.total, tag, parsed.count,
                compositeBatch, forUnpinned, epoch);
    };
    // The last batch to be parsed takes the held CIDs along: a worker, not this thread, lets go of them.
    QStringList heldCids;
    if (compositeBatch)
        heldCids = ++compositeParsesStarted >= 2 ? std::exchange(pinsHeldCids, {}) : pinsHeldCids;
    runOffGuiThread(
        [slices = std::move(slices), tailStart, streamedCount, compositeBatch,
            heldCids = std::move(heldCids)]() mutable {
            ParsedPinList parsed = parseFinishedPinList(
                joinSlices(std::exchange(slices, {})), tailStart, streamedCount, compositeBatch, heldCids);
            heldCids = QStringList();
            return parsed;
        },
        deliver);
}

void IpfsClient::deliverParsedPins(QList<PinEntry> pins, int total, const QString& tag, int count,
    bool compositeBatch, bool forUnpinned, quint64 epoch)
{
    Q_UNUSED(total) // already folded into count by the worker
    if (epoch != pinsEpoch)
        return;
    if (count > 0) {
        emit streamEntriesLoaded(tag, count);
        if (epoch != pinsEpoch) // a receiver began a newer load
            return;
    }

    if (forUnpinned) {
        unpinnedPins = std::move(pins);
        unpinnedPinsDone = true;
        finishUnpinnedFetch();
        return;
    }

    if (compositeBatch) {
        compositeBatchDelivered = true;
        if (compositePending > 0)
            --compositePending;
        if (compositePending > 0) {
            compositeFirstBatch = std::move(pins);
            return;
        }
        if (compositeFirstBatch.isEmpty()) {
            emit pinsReceived(pins);
            return;
        }
        // Both batches are in: join them off the GUI thread; for a CID listed by both, the batch
        // delivered later wins.
        const QPointer<IpfsClient> client(this);
        runOffGuiThread(
            [earlier = std::exchange(compositeFirstBatch, {}), later = std::move(pins)]() mutable {
                return mergeSortedByCid(std::move(earlier), std::move(later));
            },
            [client, epoch](QList<PinEntry>& merged) {
                if (client && epoch == client->pinsEpoch)
                    emit client->pinsReceived(merged);
            });
        return;
    }

    emit pinsReceived(pins);
}
