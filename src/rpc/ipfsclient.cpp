#include "ipfsclient.h"

#include <QNetworkReply>

IpfsClient::IpfsClient(QObject* parent)
    : QObject(parent)
{
}

void IpfsClient::setEndpoint(const QString& host, quint16 port)
{
    Q_UNUSED(host) Q_UNUSED(port) 
}

QString IpfsClient::baseUrl() const
{
    return {};
}

void IpfsClient::fetchNodeInfo()
{
    
}

void IpfsClient::ping()
{
    
}

void IpfsClient::onNodeInfoReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

QNetworkRequest IpfsClient::buildRequest(const QString& path, const QUrlQuery& query)
{
    Q_UNUSED(path) Q_UNUSED(query) return {};
}

QNetworkReply* IpfsClient::postRequest(const QString& path, const QUrlQuery& query)
{
    Q_UNUSED(path) Q_UNUSED(query) return nullptr;
}

KuboReplyResult IpfsClient::parseKuboReply(QNetworkReply* reply, const QString& action)
{
    Q_UNUSED(reply) Q_UNUSED(action) return {};
}
