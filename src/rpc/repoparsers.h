#pragma once

#include <QByteArray>
#include <QStringList>

// What a garbage collection reported: the CIDs it removed and the error lines, in stream order.
struct RepoGcReport {
    QStringList collectedCids;
    QStringList errors;
};

// Reads the body of "/repo/gc?stream-errors=true": one JSON object per line, or one whole object.
// Lines that are not JSON objects are skipped; nothing here is a failure.
RepoGcReport parseRepoGcBody(const QByteArray& body);
