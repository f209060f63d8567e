#include "ipfsclient.h"

#include "replyerrors.h"
#include "repoparsers.h"

#include <QNetworkReply>
#include <QPointer>

#include <memory>

namespace {

// Lines read in one turn of the event loop: a large repository's collection reports hundreds of
// thousands of removed blocks, which would hold the window for seconds if read at once.
constexpr int kGcLinesPerTurn = 20000;

struct RepoGcReading {
    QByteArray body;
    qsizetype offset = 0;
    RepoGcReport report;
};

// Reads the next slice of lines and goes on in a later turn, or reports when all are read.
void readRepoGcSlice(const QPointer<IpfsClient>& client, const std::shared_ptr<RepoGcReading>& reading)
{
    if (!client)
        return;
    qsizetype end = reading->offset;
    for (int i = 0; i < kGcLinesPerTurn && end < reading->body.size(); ++i) {
        const qsizetype newline = reading->body.indexOf('\n', end);
        end = newline < 0 ? reading->body.size() : newline + 1;
    }
    // A body of one slice is read whole, so that an answer of one object spread over several
    // lines is read as well.
    const bool whole = reading->offset == 0 && end == reading->body.size();
    const RepoGcReport slice = parseRepoGcBody(whole
            ? reading->body
            : QByteArray::fromRawData(reading->body.constData() + reading->offset, end - reading->offset));
    reading->report.collectedCids += slice.collectedCids;
    reading->report.errors += slice.errors;
    reading->offset = end;
    if (end < reading->body.size()) {
        QMetaObject::invokeMethod(
            client, [client, reading] { readRepoGcSlice(client, reading); }, Qt::QueuedConnection);
        return;
    }
    emit client->repoGcCompleted(reading->report.collectedCids, reading->report.errors);
}

} // namespace

void IpfsClient::fetchRepoStat()
{
    QNetworkReply* reply = postRequest(QStringLiteral("/repo/stat"), QUrlQuery());
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRepoStatReplyFinished(reply); });
}

void IpfsClient::runRepoGc()
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("stream-errors"), QStringLiteral("true"));
    QNetworkReply* reply = postRequest(QStringLiteral("/repo/gc"), query);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onRepoGcReplyFinished(reply); });
}

void IpfsClient::onRepoStatReplyFinished(QNetworkReply* reply)
{
    const KuboReplyResult result = parseKuboReply(reply, QStringLiteral("get repo stat"));
    if (!result.ok) {
        emit errorOccurred(result.error);
        emit repoStatFailed(result.error);
        return;
    }
    emit repoStatReceived(result.json);
}

void IpfsClient::onRepoGcReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        const QString message = QStringLiteral("Failed to run repo GC: %1").arg(replyErrorString(reply));
        emit errorOccurred(message);
        emit repoGcFailed(message);
        return;
    }
    // Error lines in the stream are part of the report, not a failure of the collection.
    auto reading = std::make_shared<RepoGcReading>();
    reading->body = reply->readAll();
    readRepoGcSlice(QPointer<IpfsClient>(this), reading);
}
