#include "ipfsclient.h"

#include "pinlistparser.h"
#include "threadhandover.h"

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

struct ParsedPinList {
    ParsedPinsPayload payload;
    int count = 0;
};

// The worker's whole job; it sees only its own copies.
ParsedPinList parseFinishedPinList(const QByteArray& body, qsizetype tailStart, int streamedCount)
{
    ParsedPinList result;
    result.payload = parsePinListBody(body);
    if (result.payload.total > 0) {
        // The object form: report its keys, not the lines it happened to be printed on.
        result.count = result.payload.total;
        return result;
    }
    result.count = streamedCount;
    // An unterminated last line counts only when it is an entry.
    const QByteArray tail = QByteArray::fromRawData(body.constData() + tailStart, body.size() - tailStart);
    PinEntry probe;
    if (!tail.trimmed().isEmpty() && parsePinLsLine(tail, &probe))
        ++result.count;
    return result;
}

QList<PinEntry> takeSortedByCid(QHash<QString, PinEntry>& byCid)
{
    QList<PinEntry> pins = byCid.values();
    byCid.clear();
    std::sort(pins.begin(), pins.end(), [](const PinEntry& a, const PinEntry& b) { return a.cid < b.cid; });
    return pins;
}

} // namespace

void IpfsClient::fetchPins(const QString& type, const QString& cidBase, bool upgradeCidV0)
{
    ++pinsEpoch;
    compositeByCid.clear();
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
    unpinnedActive = false;
    unpinnedPinsDone = false;
    unpinnedRefsDone = false;
    unpinnedPinnedCids.clear();
    unpinnedLocalRefs.clear();

    ++pinsEpoch;
    compositeByCid.clear();
    compositePending = 0;

    for (RequestQueue* queue : { &dagStatQueue, &kindQueue, &refsQueue }) {
        queue->pending.clear();
        queue->queued.clear();
        queue->active = 0;
    }

    // A snapshot: aborting runs the finished handlers, which must see the mark.
    const QList<QNetworkReply*> replies = activeLoadReplies.values();
    for (QNetworkReply* reply : replies) {
        reply->setProperty("cancelledByClient", true);
        reply->abort();
    }
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
    const qint64 available = reply->bytesAvailable();
    if (available <= 0)
        return;

    // Lines are only counted here; the worker parses the finished body once. The chunk is read
    // straight onto the end of the body: one copy, and growth is geometric.
    PinStream& stream = pinStreams[reply];
    const qsizetype oldSize = stream.body.size();
    stream.body.resize(oldSize + available);
    const qint64 read = reply->read(stream.body.data() + oldSize, available);
    stream.body.resize(oldSize + qMax<qint64>(read, 0));
    const QByteArrayView chunk = QByteArrayView(stream.body).sliced(oldSize);
    const int previous = reply->property("streamCount").toInt();
    const int count = previous + stream.lines.feed(chunk);
    if (count == previous)
        return;
    reply->setProperty("streamCount", count);
    emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
}

void IpfsClient::onPinsReplyFinished(QNetworkReply* reply)
{
    if (!reply)
        return;
    onPinsReplyReadyRead(reply);
    const bool compositeBatch = reply->property("pinsCompositeBatch").toBool();
    const bool forUnpinned = reply->property("forUnpinned").toBool();
    const quint64 epoch = reply->property("pinsEpoch").toULongLong();
    reply->deleteLater();
    const PinStream stream = pinStreams.take(reply);

    if (reply->error() != QNetworkReply::NoError) {
        if (epoch != pinsEpoch || reply->property("cancelledByClient").toBool())
            return;
        if (compositeBatch) {
            if (compositePending > 0)
                --compositePending;
            if (compositePending == 0)
                emit pinsReceived(takeSortedByCid(compositeByCid));
        }
        if (unpinnedActive) {
            unpinnedActive = false;
            unpinnedPinsDone = false;
            unpinnedRefsDone = false;
            unpinnedPinnedCids.clear();
            unpinnedLocalRefs.clear();
        }
        emit errorOccurred(QStringLiteral("Network error: %1").arg(reply->errorString()));
        emit connectionStatusChanged(false);
        return;
    }
    if (epoch != pinsEpoch)
        return;
    emit connectionStatusChanged(true);
    if (epoch != pinsEpoch) // a receiver began a newer load
        return;

    const QByteArray body = stream.body;
    const qsizetype tailStart = stream.lines.tailStart();
    const int streamedCount = reply->property("streamCount").toInt();
    const QString tag = reply->property("streamTag").toString();
    // Tested on this thread when the result is handed over: the client may be gone by then.
    const QPointer<IpfsClient> client(this);
    const auto deliver = [client, tag, compositeBatch, forUnpinned, epoch](const ParsedPinList& parsed) {
        if (client)
            client->deliverParsedPins(parsed.payload.pins, parsed.payload.total, tag, parsed.count,
                compositeBatch, forUnpinned, epoch);
    };

    const auto result = std::make_shared<ParsedPinList>();
    QThread* worker = QThread::create([body, tailStart, streamedCount, result] {
        *result = parseFinishedPinList(body, tailStart, streamedCount);
        markHandOverSent(result.get());
    });
    // The thread object lives on this thread until after the hand-over, so it, not the client, is the
    // context of the queued delivery.
    connect(worker, &QThread::finished, worker, [result, deliver] {
        markHandOverReceived(result.get());
        deliver(*result);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    // A parse still running at quit would outlive the application objects.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, worker, [worker] { worker->wait(); });
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // No thread could be started: parse here rather than lose the list.
        delete worker;
        deliver(parseFinishedPinList(body, tailStart, streamedCount));
    }
}

void IpfsClient::deliverParsedPins(const QList<PinEntry>& pins, int total, const QString& tag, int count,
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
        unpinnedPinnedCids.reserve(unpinnedPinnedCids.size() + pins.size());
        for (const PinEntry& pin : pins) {
            if (!pin.cid.isEmpty())
                unpinnedPinnedCids.insert(pin.cid);
        }
        unpinnedPinsDone = true;
        finishUnpinnedFetch();
        return;
    }

    if (compositeBatch) {
        compositeByCid.reserve(compositeByCid.size() + pins.size());
        for (const PinEntry& pin : pins) {
            if (!pin.cid.isEmpty())
                compositeByCid.insert(pin.cid, pin);
        }
        if (compositePending > 0)
            --compositePending;
        if (compositePending == 0)
            emit pinsReceived(takeSortedByCid(compositeByCid));
        return;
    }

    emit pinsReceived(pins);
}
