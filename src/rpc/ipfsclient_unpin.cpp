#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::unpin(const QStringList& cids, bool toCidV0)
{
    Q_UNUSED(cids) Q_UNUSED(toCidV0) 
}

void IpfsClient::onUnpinReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onCidFormatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::sendUnpinRequests()
{
    
}
