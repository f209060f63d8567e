#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// An in-memory log that keeps its newest lines up to a limit: a program that runs for weeks must
// not grow without end. Dropping the oldest line is as cheap as adding one.
class LogLines
{
public:
    // The RPC log gets hundreds of lines a refresh and fills its bound within hours of
    // auto-refresh; the status log gets about a dozen, so its bound is reached within two days
    // and memory stops growing then too.
    static constexpr qsizetype RpcLimit = 200000;
    static constexpr qsizetype StatusLimit = 50000;

    explicit LogLines(qsizetype limit);

    void append(const QString& line);
    // Empties the log; what was dropped before is forgotten too.
    void clear();

    QStringList lines() const { return kept; }
    qsizetype size() const { return kept.size(); }
    qsizetype limit() const { return maximum; }
    // Lines dropped to keep within the limit since the log was last cleared.
    qint64 dropped() const { return droppedCount; }

private:
    QStringList kept;
    qsizetype maximum;
    qint64 droppedCount = 0;
};
