#include "scriptednode.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

class ScriptedNode::Server : public QTcpServer
{
public:
    explicit Server(ScriptedNode* node)
        : node(node)
    {
        connect(this, &QTcpServer::newConnection, this, &Server::onNewConnection);
    }

private:
    void onNewConnection()
    {
        while (QTcpSocket* socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                inputs.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void onReadyRead(QTcpSocket* socket)
    {
        QByteArray& input = inputs[socket];
        input += socket->readAll();
        // The client sends its next request on a connection only once the last one is answered.
        while (true) {
            const qsizetype headerEnd = input.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QList<QByteArray> lines = input.left(headerEnd).split('\n');
            qsizetype contentLength = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                if (line.toLower().startsWith("content-length:"))
                    contentLength = line.mid(15).trimmed().toLongLong();
            }
            if (input.size() < headerEnd + 4 + contentLength)
                return;
            const QByteArray target = lines.value(0).trimmed().split(' ').value(1);
            input.remove(0, headerEnd + 4 + contentLength);
            answer(socket, QUrl(QString::fromLatin1(target)).path().mid(int(qstrlen("/api/v0"))));
        }
    }

    void answer(QTcpSocket* socket, const QString& command)
    {
        const double at = double(node->clock.nsecsElapsed()) / 1e6;
        {
            QMutexLocker lock(&node->mutex);
            node->arrived[command].append(at);
            int& open = node->open[command];
            ++open;
            node->peakOpen[command] = qMax(node->peakOpen.value(command), open);
        }
        const auto it = node->answers.constFind(command);
        const bool known = it != node->answers.cend();
        const QByteArray body = known ? it->body : QByteArray("404 page not found");
        QByteArray response = known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
        response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
        const QPointer<QTcpSocket> guard(socket);
        const auto send = [this, guard, response, command] {
            {
                QMutexLocker lock(&node->mutex);
                --node->open[command];
            }
            if (guard)
                guard->write(response);
        };
        if (known && it->delayMs > 0)
            QTimer::singleShot(it->delayMs, this, send);
        else
            send();
    }

    ScriptedNode* node;
    QHash<QTcpSocket*, QByteArray> inputs;
};

ScriptedNode::ScriptedNode()
    : thread(new QThread)
{ }

ScriptedNode::~ScriptedNode()
{
    thread->quit();
    thread->wait();
    delete thread;
}

bool ScriptedNode::start()
{
    server = new Server(this);
    server->moveToThread(thread);
    // The server and its connections go with the thread's end.
    connect(thread, &QThread::finished, server, &QObject::deleteLater);
    clock.start();
    thread->start();
    bool listening = false;
    QMetaObject::invokeMethod(
        server,
        [this, &listening] {
            listening = server->listen(QHostAddress::LocalHost, 0);
            listenPort = server->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

QList<double> ScriptedNode::arrivals(const QString& command) const
{
    QMutexLocker lock(&mutex);
    return arrived.value(command);
}

int ScriptedNode::mostOpen(const QString& command) const
{
    QMutexLocker lock(&mutex);
    return peakOpen.value(command);
}
