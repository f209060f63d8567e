#include "nodeprocess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

NodeProcess::NodeProcess(const QStringList& arguments)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/vaxel-bench-node");
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments + QStringList { QStringLiteral("--exit-with-stdin") });
    if (!process.waitForStarted(10000))
        qFatal("cannot start %s", qPrintable(program));
    // Generating a million pins takes a few seconds on a busy machine.
    while (!process.canReadLine() && process.state() == QProcess::Running)
        process.waitForReadyRead(1000);
    info = QJsonDocument::fromJson(process.readLine()).object();
    if (info.value(QLatin1String("port")).toInt() <= 0)
        qFatal("the bench node did not start (%s)", qPrintable(arguments.join(u' ')));
}

NodeProcess::~NodeProcess()
{
    process.closeWriteChannel(); // the node stops when its input closes
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QJsonObject NodeProcess::stats() const
{
    // A manager of its own: its connection is never queued behind the client's requests.
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v0/bench/stats").arg(port())));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = manager.post(request, QByteArray());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const QJsonObject stats = QJsonDocument::fromJson(reply->readAll()).object();
    delete reply;
    return stats;
}

QJsonObject commandStats(const QJsonObject& stats, const QString& command)
{
    return stats.value(QLatin1String("commands")).toObject().value(command).toObject();
}
