#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// A real Kubo daemon for one test executable, started through start-kubo.sh: a fresh repository,
// loopback addresses only. The daemon is stopped and its repository deleted when the object goes,
// and by a watchdog process when the test process itself dies first.
class KuboNode
{
public:
    using Query = QList<QPair<QString, QString>>;

    explicit KuboNode(bool online = false);
    ~KuboNode();
    KuboNode(const KuboNode&) = delete;
    KuboNode& operator=(const KuboNode&) = delete;

    // Starts the daemon; on failure returns false and sets skipReason() (no Kubo binary found) or
    // failureReason() (found, but it did not come up).
    bool start();
    void stop();
    QString skipReason() const { return skip; }
    QString failureReason() const { return failure; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return apiPort; }
    QString repoPath() const { return repo; }
    QString versionText(); // "0.43.1", as the node reports it

    // One request to the node's RPC, answered before it returns, with what the node sent exactly:
    // status, headers, the decoded body and the trailers of a chunked answer.
    struct Answer {
        int status = 0;
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
        QList<QPair<QByteArray, QByteArray>> trailers;
        QByteArray body;
        QString transportError; // set when no complete answer arrived

        QByteArray header(const QByteArray& name) const;
        QByteArray trailer(const QByteArray& name) const;
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
        QList<QJsonObject> lines() const; // newline-delimited JSON objects
        QString message() const { return json().value(QStringLiteral("Message")).toString(); }
    };
    Answer post(const QString& command, const Query& query = {});

    // "/add" of files given as (path in the upload, content), one multipart body. Folders named by
    // the paths are sent as folder parts first. Returns the node's answer lines.
    struct File {
        QString path;
        QByteArray content;
    };
    QList<QJsonObject> add(const QList<File>& files, const Query& query);
    Answer addRaw(const QList<File>& files, const Query& query) { return postFiles(QStringLiteral("/add"), files, query); }
    // Any command that takes files in a multipart body ("/dag/put", "/add").
    Answer postFiles(const QString& command, const QList<File>& files, const Query& query);
    // The root of a single-rooted add: the last line's "Hash"; empty when the add failed.
    QString addOne(const QList<File>& files, const Query& query);

    // The node's own text for its pins of one type ("/pin/ls" as the program asks for it).
    struct PinListing {
        QString type;
        QString name;
    };
    QHash<QString, PinListing> pins(const QString& type);

private:
    Answer send(const QByteArray& target, const QByteArray& contentType, const QByteArray& body,
        int timeoutMs);
    void startWatchdog();

    bool online = false;
    quint16 apiPort = 0;
    qint64 daemonPid = 0;
    QString repo;
    QString skip;
    QString failure;
};

// Starts a node in a test function: skips when there is no Kubo, fails when it does not come up.
#define KUBO_START_NODE(node)                                                                      \
    do {                                                                                           \
        if (!(node).start()) {                                                                     \
            if (!(node).skipReason().isEmpty())                                                    \
                QSKIP(qPrintable((node).skipReason()));                                            \
            QFAIL(qPrintable((node).failureReason()));                                             \
        }                                                                                          \
    } while (false)
