#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchUnpinned()
{
    
}

void IpfsClient::onRefsLocalReplyReadyRead(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRefsLocalReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::finishUnpinnedFetch()
{
    
}
