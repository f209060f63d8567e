#include "addmultipartbody.h"
#include "addstreamparser.h"
#include "ipfsclient.h"
#include "replyerrors.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QStringList>
#include <QTimer>

namespace {

// Lines read and reported in one turn of the event loop: a node may send tens of thousands at once.
constexpr int kAddLinesPerTurn = 2000;

// Takes up to kAddLinesPerTurn complete lines off the front of buffer and parses them.
QList<AddStreamLine> takeAddStreamSlice(QByteArray& buffer)
{
    qsizetype end = -1;
    for (int i = 0; i < kAddLinesPerTurn; ++i) {
        const qsizetype next = buffer.indexOf('\n', end + 1);
        if (next < 0)
            break;
        end = next;
    }
    if (end < 0)
        return {};
    QByteArray slice = buffer.left(end + 1);
    buffer.remove(0, end + 1);
    return takeAddStreamLines(slice);
}

QString boolWord(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// A node percent-decodes file names and reads '+' as a blank, so '%' and '+' are escaped, as
// are the quote and backslash that would end or escape the quoted name (escapeNodeSpecials);
// control characters would end the header line. Everything else, UTF-8 included, goes as it is.
QByteArray escapeHeaderValue(const QString& value, bool escapeNodeSpecials)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray escaped;
    escaped.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20 || byte == 0x7f;
        const bool special = c == '%' || c == '+' || c == '"' || c == '\\';
        if (control || (escapeNodeSpecials && special)) {
            escaped += '%';
            escaped += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        } else {
            escaped += c;
        }
    }
    return escaped;
}

QByteArray contentDisposition(const QString& relativeName)
{
    return QByteArrayLiteral("Content-Disposition: form-data; name=\"file\"; filename=\"")
        + escapeHeaderValue(relativeName, true) + '"';
}

// Builds the multipart body of one upload: one part per folder and per file, depth-first,
// each folder's own part before its contents.
class AddBodyBuilder
{
public:
    explicit AddBodyBuilder(AddMultipartBody* body)
        : body(body)
    { }

    void addSelection(const LocalPathSelection& selection)
    {
        const QFileInfo info(selection.localPath);
        if (!info.exists())
            return;
        const QString name = selection.name.isEmpty() ? info.fileName() : selection.name;
        if (info.isDir())
            addFolder(info.absoluteFilePath(), name);
        else if (info.isFile())
            addFile(info.absoluteFilePath(), name);
    }

    int fileCount = 0;
    bool anyPart = false;

private:
    void addFile(const QString& absolutePath, const QString& relativeName)
    {
        // Opened once to skip what cannot be read; the body reopens it while it is sent.
        QFile probe(absolutePath);
        if (!probe.open(QIODevice::ReadOnly))
            return;
        const qint64 size = probe.size();
        probe.close();

        body->appendFilePart(
            { contentDisposition(relativeName), "Abspath: " + escapeHeaderValue(absolutePath, false),
                QByteArrayLiteral("Content-Type: application/octet-stream") },
            absolutePath, size);
        ++fileCount;
        anyPart = true;
    }

    void addFolder(const QString& absolutePath, const QString& relativeName)
    {
        // Links are followed, so a link to a folder that encloses it would recurse for ever. Only
        // such a link is cut: a folder reached twice along other paths (two links to one folder,
        // a link to a sibling, one folder chosen under two names) arrives under every name.
        const QString canonical = QFileInfo(absolutePath).canonicalFilePath();
        const QString folderKey = canonical.isEmpty() ? absolutePath : canonical;
        if (foldersOnPath.contains(folderKey))
            return;
        foldersOnPath.append(folderKey);

        if (!relativeName.isEmpty()) {
            body->appendPart({ contentDisposition(relativeName),
                QByteArrayLiteral("Content-Type: application/x-directory") });
            anyPart = true;
        }

        const QFileInfoList entries = QDir(absolutePath)
                                          .entryInfoList(QDir::AllDirs | QDir::Files | QDir::Drives
                                                  | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                              QDir::Name | QDir::DirsFirst);
        for (const QFileInfo& entry : entries) {
            const QString childName = relativeName.isEmpty()
                ? entry.fileName()
                : QStringLiteral("%1/%2").arg(relativeName, entry.fileName());
            if (entry.isDir())
                addFolder(entry.absoluteFilePath(), childName);
            else if (entry.isFile())
                addFile(entry.absoluteFilePath(), childName);
        }
        foldersOnPath.removeLast();
    }

    AddMultipartBody* body;
    QStringList foldersOnPath; // the real folders from the chosen one down to the current one
};

} // namespace

void IpfsClient::addLocalPaths(const QList<LocalPathSelection>& selections, const AddOptions& options)
{
    if (selections.isEmpty()) {
        emit addFailed(tr("Nothing selected to add."));
        return;
    }

    QUrlQuery query;
    query.addQueryItem(QStringLiteral("recursive"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("wrap-with-directory"), boolWord(options.wrapWithDirectory));
    query.addQueryItem(QStringLiteral("pin"), boolWord(options.pin));
    query.addQueryItem(QStringLiteral("only-hash"), boolWord(options.onlyHash));
    query.addQueryItem(QStringLiteral("cid-version"), QString::number(options.cidVersion));

    // The frame logs the call, before the body is looked for.
    QNetworkRequest request = buildRequest(QStringLiteral("/add"), query);

    auto* body = new AddMultipartBody;
    AddBodyBuilder builder(body);
    for (const LocalPathSelection& selection : selections)
        builder.addSelection(selection);
    if (!builder.anyPart) {
        body->deleteLater();
        emit addFailed(tr("No readable files or folders found in the selected input."));
        return;
    }
    body->open(QIODevice::ReadOnly);
    request.setHeader(QNetworkRequest::ContentTypeHeader, body->contentType());
    request.setHeader(QNetworkRequest::ContentLengthHeader, body->size());

    QNetworkReply* reply = send(request, body);
    addLineBuffers.insert(reply, QByteArray());
    addEntriesByReply.insert(reply, {});
    addFileCounts.insert(reply, builder.fileCount);
    addOptionsByReply.insert(reply, options);
    addStreamErrors.insert(reply, QString());
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onAddReplyReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onAddReplyFinished(reply); });
}

void IpfsClient::onAddReplyReadyRead(QNetworkReply* reply)
{
    const auto buffer = addLineBuffers.find(reply);
    if (buffer == addLineBuffers.end())
        return;
    buffer->append(reply->readAll());
    const QList<AddStreamLine> lines = takeAddStreamSlice(*buffer);
    if (buffer->contains('\n') && !reply->property("addSliceScheduled").toBool()) {
        // The rest on a later turn, so that the window stays responsive meanwhile.
        reply->setProperty("addSliceScheduled", true);
        QTimer::singleShot(0, reply, [this, reply] {
            reply->setProperty("addSliceScheduled", false);
            if (reply->isFinished())
                onAddReplyFinished(reply);
            else
                onAddReplyReadyRead(reply);
        });
    }
    if (lines.isEmpty())
        return;

    // All state first, signals after: a progress receiver may spin the event loop (a modal
    // progress dialog does), which can bring this reply's next data or its end right here.
    QList<AddEntry>& entries = addEntriesByReply[reply];
    QString& streamError = addStreamErrors[reply];
    QList<QPair<QString, int>> reports;
    for (const AddStreamLine& line : lines) {
        if (line.kind == AddStreamLine::Error) {
            if (streamError.isEmpty())
                streamError = line.error;
            continue;
        }
        entries.append(line.entry);
        reports.append({ line.entry.name, int(entries.size()) });
    }
    const int fileCount = addFileCounts.value(reply);
    for (const auto& report : std::as_const(reports)) {
        if (!addLineBuffers.contains(reply))
            break; // the upload ended meanwhile; nothing may follow its outcome
        emit addProgress(report.first, report.second, fileCount);
    }
}

void IpfsClient::onAddReplyFinished(QNetworkReply* reply)
{
    if (!addLineBuffers.contains(reply)) {
        reply->deleteLater();
        return;
    }
    onAddReplyReadyRead(reply);
    // Lines still waiting are reported first, on later turns; the last of those turns ends here.
    if (addLineBuffers.value(reply).contains('\n'))
        return;

    const QByteArray lastLine = addLineBuffers.take(reply);
    QList<AddEntry> entries = addEntriesByReply.take(reply);
    const AddOptions options = addOptionsByReply.take(reply);
    QString streamError = addStreamErrors.take(reply);
    addFileCounts.remove(reply);

    // A last line without its newline still counts, errors included: a node that fails in
    // its final words has not added what was asked.
    const AddStreamLine last = parseAddStreamLine(lastLine);
    if (last.kind == AddStreamLine::Entry)
        entries.append(last.entry);
    else if (last.kind == AddStreamLine::Error && streamError.isEmpty())
        streamError = last.error;

    const bool transferFailed = reply->error() != QNetworkReply::NoError;
    // The network layer only says "Unknown error" when a file let the body down; name the file.
    const auto* body = reply->findChild<AddMultipartBody*>(QString(), Qt::FindDirectChildrenOnly);
    const QString bodyFailure = body ? body->readFailure() : QString();
    const QString transferError = bodyFailure.isEmpty() ? replyErrorString(reply) : bodyFailure;
    reply->deleteLater(); // frees the body and closes its file

    if (transferFailed) {
        emit addFailed(tr("Add failed: %1").arg(transferError));
        return;
    }
    if (!streamError.isEmpty()) {
        emit addFailed(tr("Add failed: %1").arg(streamError));
        return;
    }

    QString rootCid;
    if (options.wrapWithDirectory) {
        if (!entries.isEmpty())
            rootCid = entries.constLast().hash;
    } else if (entries.size() == 1) {
        rootCid = entries.constFirst().hash;
    }
    emit addCompleted(rootCid, entries);
}
