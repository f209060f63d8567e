#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>

// The bench node (vaxel-bench-node, beside this program) in a process of its own, as a real node
// is: started with its scenario's arguments, stopped with this object.
class NodeProcess
{
public:
    // Waits until the node listens; a node that does not start ends the benchmark.
    explicit NodeProcess(const QStringList& arguments);
    ~NodeProcess();
    NodeProcess(const NodeProcess&) = delete;
    NodeProcess& operator=(const NodeProcess&) = delete;

    quint16 port() const { return quint16(info.value(QLatin1String("port")).toInt()); }
    // Its port and what it holds: "pins", "recursive", "direct", "indirect", "bodyBytes".
    const QJsonObject& banner() const { return info; }
    // Requests the node has had so far, by command: "count", "inFlight", "maxInFlight", and the
    // first and last arrival ("firstMs", "lastMs") on the monotonic clock; "nowMs" beside them.
    QJsonObject stats() const;

private:
    QProcess process;
    QJsonObject info;
};

// The figures of one command in NodeProcess::stats().
QJsonObject commandStats(const QJsonObject& stats, const QString& command);
