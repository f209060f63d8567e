#pragma once

#include "httpresponsereader.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

class QIODevice;
class QTcpSocket;
class QTimer;

// One request to the node's RPC API over a connection of its own, read by our own HTTP/1.1 reader.
//
// Qt's network stack drops the trailers of a chunked answer, and the node reports a failure that
// comes after its answer began only in the trailer "X-Stream-Error"; this reply turns that trailer,
// and a "/cat" body shorter than its "X-Content-Length", into the failure it is. An answer with an
// error status fails with the node's own message as its error string. Everything else behaves as a
// QNetworkReply of Qt's: signals, attributes, headers, abort, the request's transfer timeout.
//
// A connection per request also keeps slow metadata walks from holding the few connections per host
// that a shared manager allows, so an interactive request never waits behind them.
class NodeHttpReply : public QNetworkReply
{
    Q_OBJECT

public:
    // `body` (may be null) is read while the request goes out and becomes the reply's child;
    // otherwise `inlineBody` is sent.
    NodeHttpReply(const QNetworkRequest& request, const QByteArray& inlineBody, QIODevice* body,
        QObject* parent = nullptr);
    ~NodeHttpReply() override;

    void abort() override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void start();
    void onConnected();
    void onBytesWritten();
    void onSocketReadyRead();
    void onSocketError();
    void onSocketDisconnected();
    void onSilenceTimeout();
    void readSocket();
    void scheduleDelivery();
    void deliver();
    void sendMoreBody();
    void restartSilenceTimer();
    void deliverHeaders();
    void complete();
    void fail(NetworkError code, const QString& message);
    void finishWith(NetworkError code, const QString& message);
    QByteArray requestHead() const;
    QString httpFailureText() const;

    QTcpSocket* socket = nullptr;
    QTimer* silenceTimer = nullptr;
    QByteArray pendingInlineBody;
    QPointer<QIODevice> bodyDevice;
    qint64 bodyLength = 0;
    qint64 bodySent = 0;
    HttpResponseReader reader;
    bool headersDelivered = false;
    bool done = false;
    bool deliveryScheduled = false;
    bool unsignalledBytes = false; // body bytes that no readyRead has announced yet
    bool inputEnded = false;       // the node closed the connection
    NetworkError pendingError = NoError;
    QString pendingErrorText;
    // Body bytes not read yet, as they came; the first is read from `frontOffset` on.
    QByteArrayList received;
    qint64 frontOffset = 0;
    qint64 receivedAvailable = 0;
    qint64 receivedTotal = 0;
    QByteArray errorBodyHead; // the first bytes of an error status's body
};
