#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// An in-memory log that keeps its newest lines up to a limit: a program that runs for weeks must
// not grow without end. Dropping the oldest line is as cheap as adding one.
class LogLines
{
public:
    static constexpr qsizetype DefaultLimit = 200000;

    explicit LogLines(qsizetype limit = DefaultLimit);

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
