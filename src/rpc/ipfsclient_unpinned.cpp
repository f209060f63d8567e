#include "ipfsclient.h"

#include "refsparser.h"
#include "replyerrors.h"
#include "streamlines.h"
#include "unpinnedblocks.h"

#include <QNetworkReply>

using namespace Qt::StringLiterals;

// Unpinned local content: every block the node stores ("/refs/local") that none of its pins
// ("/pin/ls", all types, so indirect ones too) names. Both halves stream at once; the later one
// delivers.

void IpfsClient::fetchUnpinned()
{
    unpinnedActive = true;
    unpinnedPinsDone = false;
    unpinnedRefsDone = false;
    ++pinsEpoch;
    unpinnedPinnedCids.clear();
    unpinnedLocalRefs.clear();

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
        refsLocalTails.remove(reply);
        return;
    }
    const QByteArray chunk = reply->readAll();
    if (chunk.isEmpty())
        return;

    const int storedCount = reply->property("streamCount").toInt();
    int count = storedCount;
    feedStreamLines(refsLocalTails[reply], chunk, [this, &count](const QByteArray& line) {
        const QString cid = parseRefsLocalLine(line);
        if (cid.isEmpty())
            return;
        // Without a computation under way the set would never be read: spare the memory.
        if (unpinnedActive)
            unpinnedLocalRefs.insert(cid);
        ++count;
    });
    if (count != storedCount) {
        reply->setProperty("streamCount", count);
        emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
    }
}

void IpfsClient::onRefsLocalReplyFinished(QNetworkReply* reply)
{
    if (reply->property("pinsEpoch").toULongLong() != pinsEpoch) {
        refsLocalTails.remove(reply);
        reply->deleteLater();
        return;
    }
    onRefsLocalReplyReadyRead(reply);
    reply->deleteLater();
    const QByteArray tail = refsLocalTails.take(reply);

    if (reply->error() != QNetworkReply::NoError) {
        if (reply->property("cancelledByClient").toBool() || !unpinnedActive)
            return;
        resetUnpinnedState();
        emit errorOccurred(u"Network error (refs/local): %1"_s.arg(replyErrorString(reply)));
        // Clear the table rather than leave rows of another listing under the unpinned title.
        emit pinsReceived({});
        return;
    }

    const QString lastCid = parseRefsLocalLine(tail);
    if (!lastCid.isEmpty()) {
        if (unpinnedActive)
            unpinnedLocalRefs.insert(lastCid);
        const int count = reply->property("streamCount").toInt() + 1;
        reply->setProperty("streamCount", count);
        emit streamEntriesLoaded(reply->property("streamTag").toString(), count);
    }
    unpinnedRefsDone = true;
    finishUnpinnedFetch();
}

void IpfsClient::finishUnpinnedFetch()
{
    if (!unpinnedActive || !unpinnedPinsDone || !unpinnedRefsDone)
        return;
    const QList<PinEntry> unpinnedBlocks = localBlocksWithoutPin(unpinnedLocalRefs, unpinnedPinnedCids);
    resetUnpinnedState();
    emit pinsReceived(unpinnedBlocks);
}

void IpfsClient::resetUnpinnedState()
{
    unpinnedActive = false;
    unpinnedPinsDone = false;
    unpinnedRefsDone = false;
    unpinnedPinnedCids.clear();
    unpinnedLocalRefs.clear();
}
