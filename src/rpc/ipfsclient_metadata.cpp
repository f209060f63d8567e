#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchRefs(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::fetchObjectStat(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::fetchKind(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::onRefsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onObjectStatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onFilesStatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onKindLsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::pumpRefsQueue()
{
    
}

void IpfsClient::pumpDagStatQueue()
{
    
}

void IpfsClient::pumpKindQueue()
{
    
}

void IpfsClient::finishRefsRequest(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::finishDagStatRequest(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::finishKindRequest(const QString& cid)
{
    Q_UNUSED(cid) 
}

QString IpfsClient::codecKindFromCid(const QString& cid) const
{
    Q_UNUSED(cid) return {};
}

bool IpfsClient::RequestQueue::enqueue(const QString& cid)
{
    Q_UNUSED(cid) return false;
}
