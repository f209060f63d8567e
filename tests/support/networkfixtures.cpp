#include "networkfixtures.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace NetworkFixtures {

QJsonObject dhtObject(const QString& name, int buckets, int peersPerBucket)
{
    QJsonArray bucketArray;
    for (int b = 0; b < buckets; ++b) {
        QJsonArray peers;
        for (int p = 0; p < peersPerBucket; ++p) {
            peers.append(QJsonObject { { u"ID"_s, u"12D3KooW%1peer%2x%3"_s.arg(name).arg(b).arg(p) },
                { u"AgentVersion"_s, u"kubo/0.%1.0/"_s.arg(30 + p % 10) }, { u"Connected"_s, p % 3 == 0 },
                { u"LastQueriedAt"_s, u"2026-01-31T12:34:56Z"_s },
                { u"LastUsefulAt"_s, u"2026-01-31T12:00:00Z"_s } });
        }
        bucketArray.append(
            QJsonObject { { u"LastRefresh"_s, u"2026-01-31T11:00:00Z"_s }, { u"Peers"_s, peers } });
    }
    return { { u"Name"_s, name }, { u"Buckets"_s, bucketArray } };
}

QByteArray dhtLinesBody(int dhts, int buckets, int peersPerBucket)
{
    QByteArray body;
    for (int d = 0; d < dhts; ++d) {
        const QString name = d == 0 ? u"wan"_s : u"lan%1"_s.arg(d);
        body += QJsonDocument(dhtObject(name, buckets, peersPerBucket)).toJson(QJsonDocument::Compact);
        body += '\n';
    }
    return body;
}

QJsonObject swarmPeersReply(int peers)
{
    QJsonArray array;
    for (int i = 0; i < peers; ++i) {
        array.append(QJsonObject {
            { u"Addr"_s, u"/ip4/10.%1.%2.%3/tcp/4001"_s.arg(i / 65536).arg(i / 256 % 256).arg(i % 256) },
            { u"Peer"_s, u"12D3KooWpeer%1"_s.arg(i) }, { u"Direction"_s, i % 2 } });
    }
    return { { u"Peers"_s, array } };
}

QJsonObject swarmAddrsReply(int peers, int addrsPerPeer)
{
    QJsonObject addrs;
    for (int i = 0; i < peers; ++i) {
        QJsonArray list;
        for (int a = 0; a < addrsPerPeer; ++a)
            list.append(u"/ip4/10.0.%1.%2/tcp/%3"_s.arg(i % 256).arg(a).arg(4001 + a));
        addrs.insert(u"12D3KooWpeer%1"_s.arg(i), list);
    }
    return { { u"Addrs"_s, addrs } };
}

QJsonObject stringsReply(const QStringList& strings)
{
    return { { u"Strings"_s, QJsonArray::fromStringList(strings) } };
}

QJsonObject bootstrapReply(const QStringList& peers)
{
    return { { u"Peers"_s, QJsonArray::fromStringList(peers) } };
}

QJsonObject bitswapReply(int peers, int wantlist)
{
    QJsonArray peerArray;
    for (int i = 0; i < peers; ++i)
        peerArray.append(u"12D3KooWpeer%1"_s.arg(i));
    QJsonArray wants;
    for (int i = 0; i < wantlist; ++i)
        wants.append(QJsonObject { { u"/"_s, u"bafywant%1"_s.arg(i) } });
    return { { u"BlocksReceived"_s, 10 }, { u"BlocksSent"_s, 5 }, { u"DataReceived"_s, 1000 },
        { u"DataSent"_s, 500 }, { u"DupBlksReceived"_s, 1 }, { u"DupDataReceived"_s, 250 },
        { u"MessagesReceived"_s, 7 }, { u"Peers"_s, peerArray }, { u"Wantlist"_s, wants } };
}

QByteArray toJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace NetworkFixtures
