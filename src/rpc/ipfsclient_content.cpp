#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchLs(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::fetchCat(const QString& cid)
{
    Q_UNUSED(cid) 
}

void IpfsClient::onLsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onCatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
