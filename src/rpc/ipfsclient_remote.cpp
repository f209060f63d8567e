#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::remotePinAdd(const QString& cid, const QString& service, const QString& name, bool background)
{
    Q_UNUSED(cid) Q_UNUSED(service) Q_UNUSED(name) Q_UNUSED(background) 
}

void IpfsClient::fetchRemotePinStatus(const QString& cid, const QString& service)
{
    Q_UNUSED(cid) Q_UNUSED(service) 
}

void IpfsClient::fetchRemoteServices(bool stat, const QString& name)
{
    Q_UNUSED(stat) Q_UNUSED(name) 
}

void IpfsClient::testRemoteService(const QString& name)
{
    Q_UNUSED(name) 
}

void IpfsClient::addRemoteService(const QString& name, const QString& endpoint, const QString& key)
{
    Q_UNUSED(name) Q_UNUSED(endpoint) Q_UNUSED(key) 
}

void IpfsClient::removeRemoteService(const QString& name)
{
    Q_UNUSED(name) 
}

void IpfsClient::onRemoteServicesReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRemoteServiceAddReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRemoteServiceRmReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRemotePinAddReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRemotePinLsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
