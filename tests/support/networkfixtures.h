#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// Node answers of the sizes a busy node gives, for the network windows' tests and benchmarks.
namespace NetworkFixtures {

// One DHT with `buckets` buckets of `peersPerBucket` peers; every third peer is connected.
QJsonObject dhtObject(const QString& name, int buckets, int peersPerBucket);
// A "/stats/dht" body with one object per line, as a node sends for both DHTs.
QByteArray dhtLinesBody(int dhts, int buckets, int peersPerBucket);

QJsonObject swarmPeersReply(int peers); // {"Peers":[{"Addr","Peer",...}]}
QJsonObject swarmAddrsReply(int peers, int addrsPerPeer); // {"Addrs":{"<id>":[...]}}
QJsonObject stringsReply(const QStringList& strings); // {"Strings":[...]}
QJsonObject bootstrapReply(const QStringList& peers); // {"Peers":[...]}
QJsonObject bitswapReply(int peers, int wantlist);

QByteArray toJson(const QJsonObject& object);

} // namespace NetworkFixtures
