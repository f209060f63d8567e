#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchRepoStat()
{
    
}

void IpfsClient::runRepoGc()
{
    
}

void IpfsClient::onRepoStatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onRepoGcReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
