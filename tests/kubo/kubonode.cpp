#include "kubonode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <sys/types.h>

using namespace Qt::StringLiterals;

namespace {

// How to start a node here: the start script, and the binary it runs (empty: the script's own).
struct Launch {
    QString script;
    QString binary;
    QString version;
    QString skip;
};

Launch findKubo()
{
    // The repository's parent holds shared/kubo on the machines that build this project; elsewhere
    // the copy of the script beside these tests applies the same settings to the user's own binary.
    const QString shared = QStringLiteral(VAXEL_SOURCE_DIR "/../shared/kubo");
    const QString sharedScript = shared + u"/start-kubo.sh"_s;
    Launch launch;
    launch.script = QFileInfo::exists(sharedScript) ? sharedScript : QStringLiteral(VAXEL_KUBO_TESTS_DIR "/start-kubo.sh");
    launch.version = qEnvironmentVariable("VAXEL_KUBO_VERSION");

    const QString own = qEnvironmentVariable("VAXEL_KUBO");
    if (!own.isEmpty()) {
        launch.binary = own;
        return launch;
    }
    QString version = launch.version;
    if (version.isEmpty()) {
        QFile file(shared + u"/VERSION"_s);
        if (file.open(QIODevice::ReadOnly))
            version = QString::fromUtf8(file.readAll()).trimmed();
    }
    if (launch.script == sharedScript && !version.isEmpty()
        && QFileInfo::exists(shared + u"/ipfs-"_s + version + u".xz"_s))
        return launch;
    launch.binary = QStandardPaths::findExecutable(u"ipfs"_s);
    if (launch.binary.isEmpty())
        launch.skip = u"kubo: no Kubo found: set VAXEL_KUBO to an ipfs binary (0.26 or newer) or put one on PATH"_s;
    return launch;
}

QByteArray procFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// True while the process is the daemon of this repository (never a process that took its pid).
bool isDaemonOf(qint64 pid, const QString& repo)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    if (!QFileInfo::exists(u"/proc/self/environ"_s))
        return true; // no /proc to ask: the pid is all there is
    const QByteArray stat = procFile(pid, "stat");
    const int state = stat.lastIndexOf(')') + 2;
    if (state < 2 || state >= stat.size() || stat.at(state) == 'Z')
        return false;
    return procFile(pid, "environ").split('\0').contains("IPFS_PATH=" + repo.toUtf8());
}

QByteArray percentEncoded(const KuboNode::Query& query)
{
    QByteArray out;
    for (const auto& [name, value] : query) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return out;
}

QByteArray multipartBody(const QList<KuboNode::File>& files, const QByteArray& boundary)
{
    QByteArray body;
    const auto part = [&](const QString& path, const QByteArray& type, const QByteArray& content) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
            + QUrl::toPercentEncoding(path) + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
    };
    // A folder's part comes before its contents; callers list each folder's files together.
    QSet<QString> folders;
    for (const KuboNode::File& file : files) {
        const QStringList steps = file.path.split(u'/');
        QString folder;
        for (int i = 0; i + 1 < steps.size(); ++i) {
            folder += (i ? u"/"_s : QString()) + steps.at(i);
            if (!folders.contains(folder)) {
                folders.insert(folder);
                part(folder, "application/x-directory", QByteArray());
            }
        }
        part(file.path, "application/octet-stream", file.content);
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

} // namespace

KuboNode::KuboNode(bool online)
    : online(online)
{
}

KuboNode::~KuboNode()
{
    stop();
}

bool KuboNode::start()
{
    const Launch launch = findKubo();
    if (!launch.skip.isEmpty()) {
        skip = launch.skip;
        return false;
    }
    if (!launch.binary.isEmpty() && !QFileInfo(launch.binary).isExecutable()) {
        failure = u"kubo: %1 is not an executable"_s.arg(launch.binary);
        return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"VAXEL_KUBO"_s);
    if (!launch.binary.isEmpty())
        environment.insert(u"VAXEL_KUBO"_s, launch.binary);
    QStringList arguments { launch.script };
    if (online)
        arguments << u"--online"_s;
    if (!launch.version.isEmpty())
        arguments << u"--kubo-version"_s << launch.version;

    QProcess script;
    script.setProcessEnvironment(environment);
    script.start(u"bash"_s, arguments);
    if (!script.waitForFinished(120000)) {
        script.kill();
        script.waitForFinished(5000);
        failure = u"kubo: start-kubo.sh did not finish in 120 s"_s;
        return false;
    }
    const QString output = QString::fromUtf8(script.readAllStandardOutput());
    const QRegularExpressionMatch match = QRegularExpression(
        u"api=(\\d+) gateway=(\\d+) pid=(\\d+) repo=(\\S+)"_s).match(output);
    if (script.exitCode() != 0 || !match.hasMatch()) {
        failure = u"kubo: start-kubo.sh failed: %1 %2"_s.arg(output, QString::fromUtf8(script.readAllStandardError()));
        return false;
    }
    apiPort = quint16(match.captured(1).toUInt());
    daemonPid = match.captured(3).toLongLong();
    repo = match.captured(4);
    startWatchdog();
    return true;
}

void KuboNode::startWatchdog()
{
    // Stops the daemon when this process ends without stop() (a crash, a kill on time-out). It
    // ends by itself once stop() has deleted the repository.
    const QString watch = uR"(T=$1; D=$2; R=$3
while kill -0 "$T" 2>/dev/null && [ -d "$R" ]; do sleep 1; done
[ -d "$R" ] || exit 0
ours() { { tr '\0' '\n' < "/proc/$D/environ"; } 2>/dev/null | grep -qxF "IPFS_PATH=$R"; }
if ours; then kill "$D"; for i in $(seq 50); do ours || break; sleep 0.2; done; ours && kill -9 "$D"; fi
rm -rf "$R")"_s;
    QProcess::startDetached(u"sh"_s,
        { u"-c"_s, watch, u"watchdog"_s, QString::number(QCoreApplication::applicationPid()),
            QString::number(daemonPid), repo });
}

void KuboNode::stop()
{
    if (repo.isEmpty())
        return;
    if (isDaemonOf(daemonPid, repo)) {
        ::kill(pid_t(daemonPid), SIGTERM);
        QDeadlineTimer deadline(20000);
        while (isDaemonOf(daemonPid, repo) && !deadline.hasExpired())
            QThread::msleep(50);
        if (isDaemonOf(daemonPid, repo))
            ::kill(pid_t(daemonPid), SIGKILL);
    }
    QDir(repo).removeRecursively();
    repo.clear();
    daemonPid = 0;
    apiPort = 0;
}

QString KuboNode::versionText()
{
    return post(u"/version"_s).json().value(u"Version"_s).toString();
}

QByteArray KuboNode::Answer::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key == name.toLower())
            return value;
    }
    return {};
}

QByteArray KuboNode::Answer::trailer(const QByteArray& name) const
{
    for (const auto& [key, value] : trailers) {
        if (key == name.toLower())
            return value;
    }
    return {};
}

QList<QJsonObject> KuboNode::Answer::lines() const
{
    QList<QJsonObject> objects;
    for (const QByteArray& line : body.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            objects.append(document.object());
    }
    return objects;
}

KuboNode::Answer KuboNode::post(const QString& command, const Query& query)
{
    QByteArray target = "/api/v0" + command.toUtf8();
    if (!query.isEmpty())
        target += '?' + percentEncoded(query);
    return send(target, QByteArray(), QByteArray(), 120000);
}

KuboNode::Answer KuboNode::postFiles(const QString& command, const QList<File>& files, const Query& query)
{
    const QByteArray boundary = "vaxel-kubo-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    QByteArray target = "/api/v0" + command.toUtf8();
    if (!query.isEmpty())
        target += '?' + percentEncoded(query);
    return send(target, "multipart/form-data; boundary=" + boundary, multipartBody(files, boundary), 300000);
}

QList<QJsonObject> KuboNode::add(const QList<File>& files, const Query& query)
{
    return addRaw(files, query).lines();
}

QString KuboNode::addOne(const QList<File>& files, const Query& query)
{
    const Answer answer = addRaw(files, query);
    const QList<QJsonObject> objects = answer.lines();
    if (answer.status != 200 || !answer.trailer("X-Stream-Error").isEmpty() || objects.isEmpty())
        return {};
    return objects.last().value(u"Hash"_s).toString();
}

QHash<QString, KuboNode::PinListing> KuboNode::pins(const QString& type)
{
    const QJsonObject keys = post(u"/pin/ls"_s,
        { { u"type"_s, type }, { u"names"_s, u"true"_s }, { u"cid-base"_s, u"base32"_s },
            { u"upgrade-cidv0-in-output"_s, u"true"_s } })
                                 .json()
                                 .value(u"Keys"_s)
                                 .toObject();
    QHash<QString, PinListing> listing;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        const QJsonObject pin = it.value().toObject();
        listing.insert(it.key(), { pin.value(u"Type"_s).toString(), pin.value(u"Name"_s).toString() });
    }
    return listing;
}

KuboNode::Answer KuboNode::send(
    const QByteArray& target, const QByteArray& contentType, const QByteArray& body, int timeoutMs)
{
    Answer answer;
    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(apiPort)
        + "\r\nUser-Agent: vaxel-kubo-tests\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n";
    if (!contentType.isEmpty())
        request += "Content-Type: " + contentType + "\r\n";
    request += "\r\n" + body;

    // The event loop runs meanwhile: the node may call back into this process (a pinning service
    // of the test), and windows under test keep working.
    QTcpSocket socket;
    QEventLoop loop;
    QByteArray raw;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        answer.transportError = u"no answer in %1 s"_s.arg(timeoutMs / 1000);
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] { raw += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            answer.transportError = socket.errorString();
        loop.quit();
    });
    deadline.start(timeoutMs);
    socket.connectToHost(QHostAddress::LocalHost, apiPort);
    loop.exec();
    raw += socket.readAll();
    if (!answer.transportError.isEmpty())
        return answer;

    const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        answer.transportError = u"no complete answer"_s;
        return answer;
    }
    const QList<QByteArray> headerLines = raw.left(headerEnd).split('\n');
    answer.status = headerLines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < headerLines.size(); ++i) {
        const QByteArray line = headerLines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            answer.headers.append({ line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed() });
    }
    QByteArray rest = raw.mid(headerEnd + 4);
    if (answer.header("Transfer-Encoding").toLower() != "chunked") {
        answer.body = rest;
        return answer;
    }
    qsizetype at = 0;
    while (true) {
        const qsizetype lineEnd = rest.indexOf("\r\n", at);
        if (lineEnd < 0) {
            answer.transportError = u"chunked answer cut short"_s;
            return answer;
        }
        bool ok = false;
        const qsizetype size = rest.mid(at, lineEnd - at).split(';').value(0).trimmed().toLongLong(&ok, 16);
        if (!ok || lineEnd + 2 + size > rest.size()) {
            answer.transportError = u"chunked answer cut short"_s;
            return answer;
        }
        at = lineEnd + 2;
        if (size == 0)
            break;
        answer.body += rest.mid(at, size);
        at += size + 2;
    }
    for (const QByteArray& line : rest.mid(at).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            answer.trailers.append({ line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed() });
    }
    return answer;
}
