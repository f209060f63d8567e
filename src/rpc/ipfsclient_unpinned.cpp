#include "ipfsclient.h"

#include "offguithread.h"
#include "refsparser.h"
#include "replyerrors.h"
#include "streamlines.h"
#include "unpinnedblocks.h"

#include <QNetworkReply>
#include <QPointer>

using namespace Qt::StringLiterals;

// Unpinned local content: every block the node stores ("/refs/local") that none of its pins
// ("/pin/ls", all types, so indirect ones too) names. Both halves stream at once; the later one
// delivers.

void IpfsClient::fetchUnpinned()
{
    resetUnpinnedState();
    unpinnedActive = true;
    ++pinsEpoch;

    QUrlQuery pinsQuery;
    pinsQuery.addQueryItem(u"type"_s, u"all"_s);
    pinsQuery.addQueryItem(u"names"_s, u"true"_s);
    pinsQuery.addQueryItem(u"stream"_s, u"true"_s);
    pinsQuery.addQueryItem(u"cid-base"_s, u"base32"_s);
    pinsQuery.addQueryItem(u"upgrade-cidv0-in-output"_s, u"true"_s);
    QNetworkReply* pins = postRequest(u"/pin/ls"_s, pinsQuery);
    registerLoadReply(pins);
    pins->setProperty("streamTag", u"pin/ls"_s);
    pins->setProperty("streamCount", 0);
    pins->setProperty("streamBuffer", QByteArray());
    pins->setProperty("rawData", QByteArray());
    pins->setProperty("forUnpinned", true);
    pins->setProperty("pinsEpoch", pinsEpoch);
    connect(pins, &QNetworkReply::readyRead, this, [this, pins] { onPinsReplyReadyRead(pins); });
    connect(pins, &QNetworkReply::finished, this, [this, pins] { onPinsReplyFinished(pins); });

    QNetworkReply* refs = postRequest(u"/refs/local"_s, QUrlQuery());
    registerLoadReply(refs);
    refs->setProperty("streamTag", u"refs/local"_s);
    refs->setProperty("streamCount", 0);
    refs->setProperty("pinsEpoch", pinsEpoch);
    connect(refs, &QNetworkReply::readyRead, this, [this, refs] { onRefsLocalReplyReadyRead(refs); });
    connect(refs, &QNetworkReply::finished, this, [this, refs] { onRefsLocalReplyFinished(refs); });
}

void IpfsClient::onRefsLocalReplyReadyRead(QNetworkReply* reply)
{
    if (!reply)
        return;
    if (reply->property("pinsEpoch").toULongLong() != pinsEpoch) {
        reply->readAll();
        refsLocalStreams.remove(reply);
        return;
    }
    const QByteArray chunk = reply->readAll();
    if (chunk.isEmpty())
        return;
    // Only kept and counted here: the lines are read on a worker once the stream is complete.
    RefsLocalStream& stream = refsLocalStreams[reply];
    const int counted = stream.lines.feed(chunk);
    if (unpinnedActive)
        stream.pieces.append(chunk);
    if (counted == 0)
        return;
    const int count = reply->property("streamCount").toInt() + counted;
    reply->setProperty("streamCount", count);
    emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
}

void IpfsClient::onRefsLocalReplyFinished(QNetworkReply* reply)
{
    if (reply->property("pinsEpoch").toULongLong() != pinsEpoch) {
        refsLocalStreams.remove(reply);
        reply->deleteLater();
        return;
    }
    onRefsLocalReplyReadyRead(reply);
    reply->deleteLater();
    RefsLocalStream stream = refsLocalStreams.take(reply);

    if (reply->error() != QNetworkReply::NoError) {
        if (reply->property("cancelledByClient").toBool() || !unpinnedActive)
            return;
        resetUnpinnedState();
        emit errorOccurred(u"Network error (refs/local): %1"_s.arg(replyErrorString(reply)));
        // Clear the table rather than leave rows of another listing under the unpinned title.
        emit pinsReceived({});
        return;
    }

    // A last line without a line feed counts too.
    if (stream.lines.hasUnendedLine()) {
        const int count = reply->property("streamCount").toInt() + 1;
        reply->setProperty("streamCount", count);
        emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
    }
    unpinnedLocalRefs = std::move(stream.pieces);
    unpinnedRefsDone = true;
    finishUnpinnedFetch();
}

void IpfsClient::finishUnpinnedFetch()
{
    if (!unpinnedActive || !unpinnedPinsDone || !unpinnedRefsDone)
        return;
    // Reading a million blocks and telling them from a million pins by multihash takes seconds:
    // both halves go to a worker, and the list comes back unless a newer load or a cancel has
    // begun meanwhile.
    QByteArrayList localRefs = std::exchange(unpinnedLocalRefs, {});
    QList<PinEntry> pins = std::exchange(unpinnedPins, {});
    resetUnpinnedState();
    const quint64 epoch = pinsEpoch;
    const QPointer<IpfsClient> client(this);
    runOffGuiThread(
        [localRefs = std::move(localRefs), pins = std::move(pins)]() mutable {
            QSet<QString> localBlocks;
            forEachBodyLine(localRefs.join(), [&localBlocks](const QByteArray& line) {
                const QString cid = parseRefsLocalLine(line);
                if (!cid.isEmpty())
                    localBlocks.insert(cid);
            });
            localRefs = {};
            QSet<QString> pinnedCids;
            pinnedCids.reserve(pins.size());
            for (const PinEntry& pin : std::as_const(pins)) {
                if (!pin.cid.isEmpty())
                    pinnedCids.insert(pin.cid);
            }
            pins = {};
            return localBlocksWithoutPin(localBlocks, pinnedCids);
        },
        [client, epoch](QList<PinEntry>& blocks) {
            if (client && client->pinsEpoch == epoch)
                emit client->pinsReceived(std::exchange(blocks, {}));
        });
}

void IpfsClient::resetUnpinnedState()
{
    unpinnedActive = false;
    unpinnedPinsDone = false;
    unpinnedRefsDone = false;
    unpinnedPins.clear();
    unpinnedLocalRefs.clear();
}
