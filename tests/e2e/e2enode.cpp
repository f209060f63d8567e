#include "e2enode.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>
#include <QUrlQuery>

namespace {

const QString kE2eDir = QStringLiteral(VAXEL_E2E_DIR);

QNetworkRequest apiRequest(quint16 port, const QString& command, const QList<QPair<QString, QString>>& query)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v0%2").arg(port).arg(command));
    QUrlQuery urlQuery;
    urlQuery.setQueryItems(query);
    if (!query.isEmpty())
        url.setQuery(urlQuery);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("vaxel-e2e-seeder"));
    return request;
}

E2eNode::Answer waitFor(QNetworkReply* reply)
{
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    E2eNode::Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    reply->deleteLater();
    return answer;
}

} // namespace

E2eNode::E2eNode() = default;

E2eNode::~E2eNode()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

bool E2eNode::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        skip = QStringLiteral("e2e: Node.js is not installed; the independent node cannot run");
        return false;
    }
    if (!QFileInfo::exists(kE2eDir + QStringLiteral("/node_modules/ipfs-core/package.json"))) {
        skip = QStringLiteral("e2e: the node's packages are not installed (npm ci in tests/e2e failed or was not run)");
        return false;
    }
    process.setWorkingDirectory(kE2eDir);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(node, { QStringLiteral("launch-node.mjs") });
    if (!process.waitForStarted(10000)) {
        failure = QStringLiteral("e2e: could not start node: %1").arg(process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(120000);
    QByteArray output;
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(500);
        output += process.readAllStandardOutput();
        const int at = output.indexOf("API_PORT=");
        if (at >= 0 && output.indexOf('\n', at) > at) {
            apiPort = quint16(output.mid(at + 9, output.indexOf('\n', at) - at - 9).trimmed().toUInt());
            return apiPort != 0;
        }
    }
    failure = QStringLiteral("e2e: node did not come up: %1 %2")
                  .arg(QString::fromUtf8(output), QString::fromUtf8(process.readAllStandardError()));
    return false;
}

E2eNode::Answer E2eNode::post(const QString& command, const QList<QPair<QString, QString>>& query)
{
    QNetworkAccessManager manager;
    QNetworkRequest request = apiRequest(apiPort, command, query);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return waitFor(manager.post(request, QByteArray()));
}

QList<QJsonObject> E2eNode::add(const QList<QPair<QString, QByteArray>>& files,
                                const QList<QPair<QString, QString>>& query)
{
    QNetworkAccessManager manager;
    auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    for (const auto& file : files) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"file\"; filename=\"%1\"")
                           .arg(QString::fromLatin1(QUrl::toPercentEncoding(file.first))));
        part.setBody(file.second);
        multipart->append(part);
    }
    QNetworkReply* reply = manager.post(apiRequest(apiPort, QStringLiteral("/add"), query), multipart);
    multipart->setParent(reply);
    const Answer answer = waitFor(reply);
    QList<QJsonObject> objects;
    for (const QByteArray& line : answer.body.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            objects.append(document.object());
    }
    return objects;
}

QString E2eNode::toBase32(const QString& cid)
{
    if (!cid.startsWith(QLatin1Char('z')))
        return cid;
    static const QByteArray base58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    QByteArray bytes; // big-endian
    for (const QChar c : cid.mid(1)) {
        int carry = base58.indexOf(char(c.toLatin1()));
        if (carry < 0)
            return cid;
        for (int i = bytes.size() - 1; i >= 0; --i) {
            carry += 58 * quint8(bytes[i]);
            bytes[i] = char(carry & 0xff);
            carry >>= 8;
        }
        while (carry > 0) {
            bytes.prepend(char(carry & 0xff));
            carry >>= 8;
        }
    }
    for (const QChar c : cid.mid(1)) {
        if (c != QLatin1Char('1'))
            break;
        bytes.prepend('\0');
    }
    static const char base32[] = "abcdefghijklmnopqrstuvwxyz234567";
    QString out = QStringLiteral("b");
    quint32 buffer = 0;
    int bits = 0;
    for (const char byte : std::as_const(bytes)) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5) {
            out += QLatin1Char(base32[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    if (bits > 0)
        out += QLatin1Char(base32[(buffer << (5 - bits)) & 31]);
    return out;
}
