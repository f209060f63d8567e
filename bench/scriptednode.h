#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class QThread;

// A node on a thread of its own that answers each command with a fixed body, at once or after a
// delay, and notes when every request arrived and how many of one command were open at a time:
// for timing single windows and flows against a node that is slow where it matters.
class ScriptedNode : public QObject
{
public:
    struct Answer {
        QByteArray body;
        int delayMs = 0;
    };

    ScriptedNode();
    ~ScriptedNode() override;

    // Set before start(); an unknown command is answered with 404.
    void setAnswer(const QString& command, const Answer& answer) { answers.insert(command, answer); }
    bool start();
    quint16 port() const { return listenPort; }

    // Milliseconds since start() at which each request of the command arrived, in order.
    QList<double> arrivals(const QString& command) const;
    // The most requests of the command that had arrived and were not yet answered at one time.
    int mostOpen(const QString& command) const;

private:
    class Server;
    QHash<QString, Answer> answers;
    QThread* thread = nullptr;
    Server* server = nullptr;
    quint16 listenPort = 0;
    QElapsedTimer clock;
    mutable QMutex mutex;
    QHash<QString, QList<double>> arrived;
    QHash<QString, int> open;
    QHash<QString, int> peakOpen;
};
