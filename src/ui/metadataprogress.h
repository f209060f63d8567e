#pragma once

#include <QHash>
#include <QString>

// How far one load's per-CID metadata has come: which CIDs take part in size and kind loading,
// which of their answers arrived and which requests failed. A failed request leaves the value
// unknown, so the CID counts as failed, never as loaded.
class MetadataProgress
{
public:
    void clear();
    void reserve(qsizetype cids) { states.reserve(cids); }

    // The CID takes part in size and kind loading.
    void request(const QString& cid);
    // Answers count only for CIDs that take part; known false: the request failed.
    void setSize(const QString& cid, bool known);
    void setKind(const QString& cid, bool known);
    // Refs are asked for a CID of the load whether or not it takes part.
    void setRefsFailed(const QString& cid);

    int requested() const { return requestedCount; }
    // Size and kind known, nothing failed.
    int loaded() const { return loadedCount; }
    // At least one of the CID's requests failed.
    int failed() const { return failedCount; }
    // Every CID taking part has its size and kind answered, one way or the other.
    bool settled() const { return settledCount == requestedCount; }

private:
    void change(const QString& cid, quint8 set, quint8 cleared, bool onlyRequested);

    QHash<QString, quint8> states; // CID to what is known and what failed of it
    int requestedCount = 0;
    int loadedCount = 0;
    int settledCount = 0;
    int failedCount = 0;
};
