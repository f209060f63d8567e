#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchConfig()
{
    
}

void IpfsClient::fetchConfigKey(const QString& key, bool expandAuto)
{
    Q_UNUSED(key) Q_UNUSED(expandAuto) 
}

void IpfsClient::setConfigKey(const QString& key, const QString& value, bool boolFlag, bool jsonFlag)
{
    Q_UNUSED(key) Q_UNUSED(value) Q_UNUSED(boolFlag) Q_UNUSED(jsonFlag) 
}

void IpfsClient::replaceConfig(const QByteArray& bytes)
{
    Q_UNUSED(bytes) 
}

void IpfsClient::onConfigReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onConfigKeyGetReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onConfigKeySetReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onConfigReplaceReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
