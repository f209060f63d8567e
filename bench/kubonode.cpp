#include "kubonode.h"

#include "appsettings.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

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

    // The node answers each file while the upload still arrives and stops reading when its answer
    // is not read: a socket of our own reads while it writes (a QNetworkReply does not, and the two
    // would wait on each other for ever).
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, apiPort);
    if (!socket.waitForConnected(10000)) {
        failureText = QStringLiteral("cannot connect to Kubo: %1").arg(socket.errorString());
        return -1;
    }
    socket.write(
        "POST /api/v0/add?pin=true&wrap-with-directory=false&progress=false HTTP/1.1\r\nHost: 127.0.0.1:"
        + QByteArray::number(apiPort) + "\r\nUser-Agent: " + vaxelUserAgent()
        + "\r\nContent-Type: multipart/form-data; boundary=" + boundary
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");
    socket.write(body);

    QByteArray response;
    int reported = 0;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        const QByteArray chunk = socket.readAll();
        response += chunk;
        reported += int(chunk.count("\"Hash\""));
        if (reported / kProgressEvery != (reported - int(chunk.count("\"Hash\""))) / kProgressEvery)
            std::fprintf(stderr, "vaxel-bench: Kubo has added about %d of %d files\n", reported, files);
        if (response.endsWith("\r\n0\r\n\r\n"))
            loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(kAddLimitMs, &loop, &QEventLoop::quit);
    loop.exec();
    response += socket.readAll();

    const qsizetype headerEnd = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/1.1 200") || headerEnd < 0) {
        failureText = QStringLiteral("the seeding add failed: %1")
                          .arg(QString::fromUtf8(response.left(300)).simplified());
        return -1;
    }
    // The chunked answer, one JSON object per added file.
    QByteArray lines;
    qsizetype at = headerEnd + 4;
    for (;;) {
        const qsizetype sizeEnd = response.indexOf("\r\n", at);
        if (sizeEnd < 0)
            break;
        bool ok = false;
        const qsizetype size = response.mid(at, sizeEnd - at).toLongLong(&ok, 16);
        if (!ok || size == 0)
            break;
        lines += response.mid(sizeEnd + 2, size);
        at = sizeEnd + 2 + size + 2;
    }
    return int(lines.count("\"Hash\""));
}
