#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchSwarmPeers()
{
    
}

void IpfsClient::fetchSwarmAddrs()
{
    
}

void IpfsClient::fetchSwarmListenAddrs()
{
    
}

void IpfsClient::swarmConnect(const QString& multiaddr)
{
    Q_UNUSED(multiaddr) 
}

void IpfsClient::swarmDisconnect(const QString& multiaddr)
{
    Q_UNUSED(multiaddr) 
}

void IpfsClient::fetchBootstrapPeers(bool expandAuto)
{
    Q_UNUSED(expandAuto) 
}

void IpfsClient::bootstrapAddPeer(const QString& address)
{
    Q_UNUSED(address) 
}

void IpfsClient::bootstrapRemovePeers(const QStringList& addresses)
{
    Q_UNUSED(addresses) 
}

void IpfsClient::bootstrapRemoveAllPeers()
{
    
}

void IpfsClient::onSwarmPeersReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onSwarmAddrsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onSwarmListenAddrsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onSwarmConnectReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onSwarmDisconnectReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onBootstrapListReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onBootstrapAddReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onBootstrapRmReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onBootstrapRmAllReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
