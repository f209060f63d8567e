#pragma once

#include "pinfixture.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class QTcpServer;
class QTcpSocket;

// What the node holds and how its remote pinning service behaves.
struct NodeScenario {
    int pins = 0;
    // Blocks "/refs/local" lists; 0: the pinned blocks and one unpinned block for every ten pins.
    int localBlocks = 0;
    int indirectPins = 0; // blocks below the recursive pins, listed by "/pin/ls" type all and indirect
    int gcCids = 0; // CIDs one "/repo/gc" reports as removed
    int addEntries = 1; // entries one "/add" reports (the wrapping folder comes on top)
    int serviceDelayMs = 0; // every remote pinning request waits this long for the service
    int remotePinnedAfterMs = 10000; // a remote pin is "queued" this long, then "pinned"
    bool busyNetwork = false; // DHT, swarm and bitswap answers of a busy node
};

// A Kubo-like node for the benchmark and for trying the application by hand, in a process of its
// own as a real node is: serves the scenario's pins over HTTP/1.1 (streamed, chunked), answers the
// metadata commands at once and the remote pinning commands after the service's delay, and counts
// the requests of every command ("/bench/stats").
class BenchNode : public QObject
{
    Q_OBJECT

public:
    explicit BenchNode(const NodeScenario& scenario, QObject* parent = nullptr);
    ~BenchNode() override;

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool start(quint16 port = 0);
    quint16 port() const { return listenPort; }
    // The line printed once the node listens: its port and what it holds.
    QJsonObject banner() const;

private:
    struct Connection {
        QByteArray input;
        QList<QByteArray> bodyParts; // what is still to stream, chunk by chunk
        qsizetype offset = 0;
        bool busy = false; // a request is being answered; later ones wait, in order
        bool streaming = false;
        QString command;
    };
    struct CommandCount {
        int count = 0;
        int inFlight = 0;
        int maxInFlight = 0;
        qint64 firstMs = -1;
        qint64 lastMs = -1;
    };
    struct RemotePin {
        QString name;
        qint64 queuedMs = 0;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    bool takeRequest(Connection& connection, QByteArray* method, QByteArray* target);
    void answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target);
    void answerRemote(QTcpSocket* socket, const QString& command, const QString& query);
    void sendWhole(QTcpSocket* socket, int status, const QByteArray& body);
    void startStream(QTcpSocket* socket, const QList<QByteArray>& parts);
    void pumpStream(QTcpSocket* socket);
    void finishRequest(QTcpSocket* socket);
    QByteArray statsBody() const;
    QByteArray refsLocalBody();
    QByteArray gcBody();
    QByteArray addBody(bool wrapped) const;

    NodeScenario scenario;
    PinFixture fixture;
    QTcpServer* server = nullptr;
    quint16 listenPort = 0;
    QHash<QTcpSocket*, Connection> connections;
    QByteArray refsLocal;
    QByteArray gcLines;
    QHash<QString, QByteArray> fixedAnswers;
    QHash<QString, CommandCount> counts;
    QHash<QString, RemotePin> remotePins;
};
