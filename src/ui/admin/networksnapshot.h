#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// The network snapshot document: the last answers of the swarm peers, DHT and bitswap
// endpoints in one JSON object with a derived health rating. It is also a file format. A number
// that an endpoint did not deliver (it failed, or has not answered yet) is null, never 0.
namespace NetworkSnapshot {

struct State {
    QStringList swarmPeers;
    QJsonValue dhtStats; // one DHT object or an array; null before an answer
    QJsonObject bitswapStat;
    bool swarmDone = false;
    bool dhtDone = false;
    bool bitswapDone = false;
    bool swarmOk = false;
    bool dhtOk = false;
    bool bitswapOk = false;
    QString swarmError;
    QString dhtError;
    QString bitswapError;
};

// The whole document, stamped with `nowUtc`.
QJsonObject build(const State& state, const QDateTime& nowUtc);

// A counter as the node may send it: a number (truncated), a decimal string, or 0.
qint64 toInt64(const QJsonValue& value);

} // namespace NetworkSnapshot
