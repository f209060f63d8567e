#include "loglines.h"

LogLines::LogLines(qsizetype limit)
    : maximum(qMax<qsizetype>(1, limit))
{ }

void LogLines::append(const QString& line)
{
    // Taking the first element only moves the list's start; the lines are shifted down once
    // the free space at the front is large, a cost spread over many appends.
    if (kept.size() >= maximum) {
        kept.removeFirst();
        ++droppedCount;
    }
    kept.append(line);
}

void LogLines::clear()
{
    kept.clear();
    droppedCount = 0;
}
