#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// A remote pinning service on 127.0.0.1 that speaks the IPFS Pinning Service API as a node calls
// it: GET /pins (filters cid, name, match, status, before, after, meta and limit, newest first),
// POST /pins, and GET, POST (replace) and DELETE /pins/{requestid}, each behind a bearer token.
// Tests script how each pin request fares; every request is recorded.
class PinningService : public QObject
{
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QString path;                         // "/pins" or "/pins/<requestid>"
        QList<QPair<QString, QString>> query; // decoded, in order
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        QByteArray header(const QByteArray& name) const; // case-insensitive; empty when absent
        QString queryValue(const QString& name) const;
    };

    struct Pin {
        QString requestId;
        QString cid;
        QString name;
        QStringList origins;
        QJsonObject meta;
        QDateTime created;
        QStringList statuses; // the course of the request, one step per stepMs, then the last for good
        int stepMs = 0;

        QString status() const;
    };

    explicit PinningService(QObject* parent = nullptr);
    ~PinningService() override;

    bool start();
    quint16 port() const;
    QString endpoint() const; // "http://127.0.0.1:<port>", as a node is told
    QString accessToken() const { return token; }

    // The course of every pin request made from now on: it starts at the first status and moves
    // to the next every stepMs milliseconds until the last, e.g. {queued, pinning, pinned}.
    void setCourse(const QStringList& statuses, int stepMs = 0);
    // The course of requests for one CID, over the general one.
    void setCourseFor(const QString& cid, const QStringList& statuses, int stepMs = 0);
    // A pin request the service already holds; returns its request id.
    QString seed(const QString& cid, const QString& status, const QString& name = QString());

    QList<Pin> pins() const { return held; }
    QList<Pin> pinsOf(const QString& cid) const;
    QList<Request> requests() const { return recorded; }
    QList<Request> requests(const QByteArray& method, const QString& path) const;
    void clearRequests() { recorded.clear(); }

signals:
    void requestReceived(const QByteArray& method, const QString& path);

private:
    struct Answer {
        int status = 200;
        QByteArray body;
    };
    void onReadyRead(QTcpSocket* socket);
    Answer answer(const Request& request);
    Answer list(const Request& request);
    Answer create(const QJsonObject& pin);
    static Answer failure(int status, const QByteArray& reason, const QString& details);
    QString newRequestId();
    QJsonObject statusObject(const Pin& pin) const;

    QTcpServer* server = nullptr;
    QHash<QTcpSocket*, QByteArray> buffers;
    QList<Request> recorded;
    QList<Pin> held;
    QString token;
    QStringList course { QStringLiteral("pinned") };
    int courseStepMs = 0;
    struct Course {
        QStringList statuses;
        int stepMs = 0;
    };
    QHash<QString, Course> coursesByCid;
    int nextId = 0;
    QDateTime lastCreated;
};
