#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>

// An independent RPC node started for one test case: a fresh repository, offline, on a free port.
class E2eNode
{
public:
    E2eNode();
    ~E2eNode();

    // Starts the node; on failure returns false and sets skipReason() (packages not installed) or
    // failureReason() (installed but did not come up).
    bool start();
    QString skipReason() const { return skip; }
    QString failureReason() const { return failure; }
    quint16 port() const { return apiPort; }
    QString host() const { return QStringLiteral("127.0.0.1"); }

    // Talks to the node over its own RPC, blocking the calling test until the answer is in.
    struct Answer {
        int status = 0;
        QByteArray body;
        QJsonDocument json() const { return QJsonDocument::fromJson(body); }
    };
    Answer post(const QString& command, const QList<QPair<QString, QString>>& query = {});
    // Adds files through /add; each pair is (path inside the upload, content). Returns the node's
    // answer lines as objects, the last one being the root when wrapped.
    QList<QJsonObject> add(const QList<QPair<QString, QByteArray>>& files,
                           const QList<QPair<QString, QString>>& query);

    // This node prints version 1 CIDs in base58btc ("z..."); the program asks for base32 ("b...").
    static QString toBase32(const QString& cid);

private:
    QProcess process;
    quint16 apiPort = 0;
    QString skip;
    QString failure;
};

// Starts a node in a test function: skips when the packages are missing, fails when the node fails.
#define E2E_START_NODE(node)                                                                       \
    do {                                                                                           \
        if (!(node).start()) {                                                                     \
            if (!(node).skipReason().isEmpty())                                                    \
                QSKIP(qPrintable((node).skipReason()));                                            \
            QFAIL(qPrintable((node).failureReason()));                                             \
        }                                                                                          \
    } while (false)
