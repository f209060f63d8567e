#pragma once

#include "pinfixture.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QThread;

// A small Kubo-like node for the benchmark and for trying the application by hand: serves the
// fixture's pins over HTTP/1.1 (streamed, chunked) and answers the metadata commands at once.
// It lives on a thread of its own so that the client under test has the GUI thread to itself.
class BenchNode : public QObject
{
    Q_OBJECT

public:
    explicit BenchNode(const PinFixture& fixture);
    ~BenchNode() override;

    // Starts the node's thread and listens on 127.0.0.1; port 0 picks a free one.
    bool start(quint16 port = 0);

    // Answers a command with this body as it stands; set before start().
    void setFixedAnswer(const QString& command, const QByteArray& body)
    {
        fixedAnswers.insert(command, body);
    }
    quint16 port() const { return listenPort; }

private:
    struct Connection {
        QByteArray input;
        QList<QByteArray> bodyParts; // what is still to stream, chunk by chunk
        qsizetype offset = 0;
        bool streaming = false;
    };

    bool listenOnThread(quint16 port);
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target);
    void sendWhole(QTcpSocket* socket, int status, const QByteArray& body);
    void startStream(QTcpSocket* socket, const QList<QByteArray>& parts);
    void pumpStream(QTcpSocket* socket);
    QByteArray refsLocalBody();

    const PinFixture& fixture;
    QThread* thread = nullptr;
    QTcpServer* server = nullptr;
    quint16 listenPort = 0;
    QHash<QTcpSocket*, Connection> connections;
    QByteArray refsLocal;
    QHash<QString, QByteArray> fixedAnswers;
};
