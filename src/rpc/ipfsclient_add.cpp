#include "addfilebodydevice.h"
#include "addstreamparser.h"
#include "appsettings.h"
#include "ipfsclient.h"

#include <QDir>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>

namespace {

QString boolWord(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Percent-escapes the bytes of a header value that would end the header line (control
// characters) and, with escapeNodeSpecials, those a node decodes or that end the quoted
// filename ('%', '+', '"', '\\'). Everything else, UTF-8 included, is sent as it is.
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
    return QByteArrayLiteral("form-data; name=\"file\"; filename=\"") + escapeHeaderValue(relativeName, true)
        + '"';
}

// Builds the multipart body of one upload: one part per folder and per file, depth-first,
// each folder's own part before its contents.
class AddBodyBuilder
{
public:
    explicit AddBodyBuilder(QHttpMultiPart* multiPart)
        : multiPart(multiPart)
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

        auto* body = new AddFileBodyDevice(absolutePath, size, multiPart);
        body->open(QIODevice::ReadOnly | QIODevice::Unbuffered);

        QHttpPart part;
        part.setRawHeader(QByteArrayLiteral("Content-Disposition"), contentDisposition(relativeName));
        part.setRawHeader(QByteArrayLiteral("Abspath"), escapeHeaderValue(absolutePath, false));
        part.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
        part.setBodyDevice(body);
        multiPart->append(part);
        ++fileCount;
        anyPart = true;
    }

    void addFolder(const QString& absolutePath, const QString& relativeName)
    {
        // Links are followed, so a link back up the tree would recurse forever: walk every
        // real folder once per upload.
        const QString canonical = QFileInfo(absolutePath).canonicalFilePath();
        const QString visitKey = canonical.isEmpty() ? absolutePath : canonical;
        if (visitedFolders.contains(visitKey))
            return;
        visitedFolders.insert(visitKey);

        if (!relativeName.isEmpty()) {
            QHttpPart part;
            part.setRawHeader(QByteArrayLiteral("Content-Disposition"), contentDisposition(relativeName));
            part.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-directory"));
            multiPart->append(part);
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
    }

    QHttpMultiPart* multiPart;
    QSet<QString> visitedFolders;
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

    // The frame logs the call; the network layer sets the multipart type with its boundary.
    QNetworkRequest request = buildRequest(QStringLiteral("/add"), query);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QVariant());

    auto* multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    AddBodyBuilder builder(multiPart);
    for (const LocalPathSelection& selection : selections)
        builder.addSelection(selection);
    if (!builder.anyPart) {
        multiPart->deleteLater();
        emit addFailed(tr("No readable files or folders found in the selected input."));
        return;
    }

    QNetworkReply* reply = networkManager->post(request, multiPart);
    multiPart->setParent(reply);
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
    const QList<AddStreamLine> lines = takeAddStreamLines(*buffer);
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
    const QString transferError = reply->errorString();
    reply->deleteLater(); // frees the multipart body and closes its files

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
