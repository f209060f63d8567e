#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchIpnsKeys()
{
    
}

void IpfsClient::publishIpns(const QString& path, const QString& key)
{
    Q_UNUSED(path) Q_UNUSED(key) 
}

void IpfsClient::resolveIpns(const QString& name)
{
    Q_UNUSED(name) 
}

void IpfsClient::onIpnsKeysReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onIpnsPublishReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onIpnsResolveReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
