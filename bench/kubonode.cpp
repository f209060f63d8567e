#include "kubonode.h"

#include "appsettings.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>

#include <csignal>
#include <cstdio>

namespace {

constexpr int kStartTimeoutMs = 90000;
// Each of the files is pinned as a root of its own, and a node on a busy disk takes a long time
// over that: the seeding may take many minutes, with long silences.
constexpr int kAddLimitMs = 45 * 60 * 1000;
constexpr int kProgressEvery = 10000;

bool processAlive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}

} // namespace

KuboNode::KuboNode(const QString& startScript)
{
    if (!QFileInfo(startScript).isFile()) {
        failureText = QStringLiteral("no Kubo start script at %1").arg(startScript);
        return;
    }
    QProcess script;
    script.setProcessChannelMode(QProcess::SeparateChannels);
    script.start(QStringLiteral("bash"), { startScript });
    if (!script.waitForFinished(kStartTimeoutMs) || script.exitCode() != 0) {
        failureText = QStringLiteral("Kubo did not start: %1")
                          .arg(QString::fromLocal8Bit(script.readAllStandardError()).trimmed().right(300));
        script.kill();
        return;
    }
    // "api=PORT gateway=PORT pid=PID repo=DIR"
    const QString line = QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("api=(\\d+) gateway=\\d* pid=(\\d+) repo=(\\S+)")).match(line);
    if (!match.hasMatch()) {
        failureText = QStringLiteral("unexpected start line: %1").arg(line);
        return;
    }
    pid = match.captured(2).toLongLong();
    repo = match.captured(3);
    apiPort = quint16(match.captured(1).toUInt());
}

KuboNode::~KuboNode()
{
    if (pid > 0 && processAlive(pid)) {
        ::kill(pid_t(pid), SIGTERM);
        for (int wait = 0; wait < 200 && processAlive(pid); ++wait)
            QThread::msleep(100);
        if (processAlive(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
    if (!repo.isEmpty() && repo.startsWith(QDir::tempPath()))
        QDir(repo).removeRecursively();
}

int KuboNode::addSmallFiles(int files)
{
    const QByteArray boundary = "vaxel-bench-seed-boundary";
    QByteArray body;
    body.reserve(qsizetype(files) * 200);
    for (int index = 0; index < files; ++index) {
        const QByteArray name = "seed-" + QByteArray::number(index).rightJustified(6, '0') + ".txt";
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name
            + "\"\r\nContent-Type: application/octet-stream\r\n\r\nvaxel bench seed file "
            + QByteArray::number(index) + "\r\n";
    }
    body += "--" + boundary + "--\r\n";

    QUrlQuery query;
    query.addQueryItem(QStringLiteral("pin"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("wrap-with-directory"), QStringLiteral("false"));
    query.addQueryItem(QStringLiteral("progress"), QStringLiteral("false"));
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v0/add").arg(apiPort));
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, vaxelUserAgent());
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArray("multipart/form-data; boundary=" + boundary));
    request.setTransferTimeout(0);

    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.post(request, body);
    int entries = 0;
    QByteArray tail;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        tail += reply->readAll();
        const qsizetype lastLine = tail.lastIndexOf('\n');
        if (lastLine < 0)
            return;
        const int before = entries;
        entries += int(tail.left(lastLine).count("\"Hash\""));
        tail.remove(0, lastLine + 1);
        if (entries / kProgressEvery != before / kProgressEvery)
            std::fprintf(stderr, "vaxel-bench: Kubo has added %d of %d files\n", entries, files);
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kAddLimitMs, reply, &QNetworkReply::abort);
    loop.exec();
    if (reply->isOpen())
        tail += reply->readAll();
    entries += int(tail.count("\"Hash\""));
    const bool failed = reply->error() != QNetworkReply::NoError;
    if (failed)
        failureText = QStringLiteral("the seeding add failed: %1").arg(reply->errorString());
    delete reply;
    return failed ? -1 : entries;
}
