#include "ipfsclient.h"

#include "cidtext.h"
#include "pinlistparser.h"
#include "replyerrors.h"
#include "streamlines.h"
#include "unpinplan.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimer>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

// One unpin: its plan, and its requests in flight. The plan sends at most one lookup and one
// removal at a time, so each job keeps the node busy without flooding it.
struct IpfsClient::UnpinJob {
    explicit UnpinJob(UnpinPlan plan)
        : plan(std::move(plan))
    {
    }
    UnpinPlan plan;
    int repliesOut = 0;
    bool started = false;
    QByteArray listingTail;
    QString listingType;
};

namespace {

int httpStatus(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The node's "Message" for a refused request, else the network layer's words.
QString failureMessage(const QNetworkReply* reply, const QByteArray& body)
{
    const QJsonObject error = QJsonDocument::fromJson(nodeErrorBody(reply, body)).object();
    const QString message = error.value("Message"_L1).toString().trimmed();
    return message.isEmpty() ? replyErrorString(reply) : message;
}

bool sameCid(const QString& listed, const QString& asked)
{
    const QByteArray multihash = cidMultihash(listed);
    return multihash.isEmpty() ? listed == asked : multihash == cidMultihash(asked);
}

// How many of the asked CIDs a lookup listed, from the first on, in the order asked.
int listedPrefix(const QByteArray& body, const QStringList& asked)
{
    int listed = 0;
    bool inOrder = true;
    forEachBodyLine(body, [&](const QByteArray& line) {
        PinEntry entry;
        if (!inOrder || !parsePinLsLine(line, &entry))
            return;
        inOrder = listed < asked.size() && sameCid(entry.cid, asked.at(listed));
        if (inOrder)
            ++listed;
    });
    return listed;
}

UnpinPlan::PinKind kindOfType(const QString& type)
{
    if (type == "recursive"_L1)
        return UnpinPlan::PinKind::Recursive;
    if (type == "direct"_L1)
        return UnpinPlan::PinKind::Direct;
    return UnpinPlan::PinKind::Unknown;
}

} // namespace

void IpfsClient::unpin(const QStringList& cids, bool toCidV0)
{
    QList<UnpinPlan::Target> targets;
    targets.reserve(cids.size());
    for (const QString& cid : cids)
        targets.append({ cid, UnpinPlan::PinKind::Unknown });
    const auto job = QSharedPointer<UnpinJob>::create(UnpinPlan(targets, toCidV0, 0));
    if (!job->plan.finished())
        queueUnpin(job);
}

void IpfsClient::unpinPins(const QList<PinEntry>& pins, bool toCidV0)
{
    QList<UnpinPlan::Target> targets;
    targets.reserve(pins.size());
    int indirect = 0;
    for (const PinEntry& pin : pins) {
        // "indirect", or "indirect through <cid>" in a listing of named CIDs.
        if (pin.type.startsWith("indirect"_L1))
            ++indirect;
        else
            targets.append({ pin.cid, kindOfType(pin.type) });
    }
    const auto job = QSharedPointer<UnpinJob>::create(UnpinPlan(targets, toCidV0, indirect));
    if (!job->plan.finished() || indirect > 0)
        queueUnpin(job);
}

void IpfsClient::queueUnpin(const QSharedPointer<UnpinJob>& job)
{
    unpinJobs.append(job);
    if (unpinJobs.size() == 1) {
        // Begun on the next turn of the event loop, so that the caller never hears the end of an
        // unpin before unpin() returns.
        QTimer::singleShot(0, this, [this, job] { pumpUnpin(job); });
    }
}

void IpfsClient::pumpUnpin(const QSharedPointer<UnpinJob>& job)
{
    job->started = true;
    const UnpinPlan::Step lookup = job->plan.nextLookup();
    if (lookup.kind == UnpinPlan::Step::Lookup)
        sendUnpinLookup(job, lookup.type, lookup.args);
    else if (lookup.kind == UnpinPlan::Step::Listing)
        sendUnpinListing(job, lookup.type);
    const UnpinPlan::Step removal = job->plan.nextRemoval();
    if (removal.kind == UnpinPlan::Step::Removal)
        sendUnpinRemoval(job, removal.args);
    if (job->repliesOut > 0 || !job->plan.finished())
        return;

    const UnpinReport report = job->plan.report();
    unpinJobs.removeOne(job);
    if (!report.removed.isEmpty())
        emit unpinned(report.removed);
    emit unpinFinished(report);
    if (!unpinJobs.isEmpty() && !unpinJobs.first()->started)
        pumpUnpin(unpinJobs.first());
}

void IpfsClient::sendUnpinLookup(const QSharedPointer<UnpinJob>& job, const QString& type, const QStringList& args)
{
    QUrlQuery query;
    query.addQueryItem(u"type"_s, type);
    query.addQueryItem(u"stream"_s, u"true"_s);
    for (const QString& arg : args)
        query.addQueryItem(u"arg"_s, arg);
    QNetworkReply* reply = postRequest(u"/pin/ls"_s, query);
    ++job->repliesOut;
    connect(reply, &QNetworkReply::finished, this,
        [this, job, reply, args] { onUnpinLookupFinished(job, reply, args); });
}

void IpfsClient::onUnpinLookupFinished(
    const QSharedPointer<UnpinJob>& job, QNetworkReply* reply, const QStringList& args)
{
    reply->deleteLater();
    --job->repliesOut;
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const int status = httpStatus(reply);
    // The node stops at the first CID not pinned as asked: before any output it answers 500,
    // after it the listing ends early (with the reason in its trailer).
    if (status == 500)
        job->plan.lookupAnswered(0, failureMessage(reply, body), false);
    else if (status == 200)
        job->plan.lookupAnswered(listedPrefix(body, args),
            reply->error() == QNetworkReply::NoError ? QString() : replyErrorString(reply), false);
    else
        job->plan.lookupAnswered(0, failureMessage(reply, body), true);
    pumpUnpin(job);
}

void IpfsClient::sendUnpinListing(const QSharedPointer<UnpinJob>& job, const QString& type)
{
    QUrlQuery query;
    query.addQueryItem(u"type"_s, type);
    query.addQueryItem(u"stream"_s, u"true"_s);
    QNetworkReply* reply = postRequest(u"/pin/ls"_s, query);
    ++job->repliesOut;
    job->listingTail.clear();
    job->listingType = type;
    // Read as it arrives: a node may hold millions of pins, and only those asked for are kept.
    connect(reply, &QNetworkReply::readyRead, this, [job, reply] {
        feedStreamLines(job->listingTail, reply->readAll(), [&job](const QByteArray& line) {
            PinEntry entry;
            if (parsePinLsLine(line, &entry))
                job->plan.listingEntry(entry.cid, job->listingType);
        });
    });
    connect(reply, &QNetworkReply::finished, this, [this, job, reply] { onUnpinListingFinished(job, reply); });
}

void IpfsClient::onUnpinListingFinished(const QSharedPointer<UnpinJob>& job, QNetworkReply* reply)
{
    reply->deleteLater();
    --job->repliesOut;
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    if (reply->error() != QNetworkReply::NoError) {
        job->plan.listingAnswered(failureMessage(reply, rest), true);
    } else {
        forEachBodyLine(job->listingTail + rest, [&job](const QByteArray& line) {
            PinEntry entry;
            if (parsePinLsLine(line, &entry))
                job->plan.listingEntry(entry.cid, job->listingType);
        });
        job->plan.listingAnswered(QString(), false);
    }
    job->listingTail.clear();
    pumpUnpin(job);
}

void IpfsClient::sendUnpinRemoval(const QSharedPointer<UnpinJob>& job, const QStringList& args)
{
    QUrlQuery query;
    for (const QString& arg : args)
        query.addQueryItem(u"arg"_s, arg);
    QNetworkReply* reply = postRequest(u"/pin/rm"_s, query);
    ++job->repliesOut;
    connect(reply, &QNetworkReply::finished, this, [this, job, reply] { onUnpinRemovalFinished(job, reply); });
}

void IpfsClient::onUnpinRemovalFinished(const QSharedPointer<UnpinJob>& job, QNetworkReply* reply)
{
    reply->deleteLater();
    --job->repliesOut;
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const int status = httpStatus(reply);
    if (reply->error() == QNetworkReply::NoError) {
        if (QJsonDocument::fromJson(body).isObject())
            job->plan.removalAnswered(true, QString(), false);
        else
            job->plan.removalAnswered(false, u"invalid response from node"_s, true);
    } else {
        // A 500 is a CID the node could not remove; those before it are gone.
        job->plan.removalAnswered(false, failureMessage(reply, body), status != 500);
    }
    pumpUnpin(job);
}
