#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::addLocalPaths(const QList<LocalPathSelection>& selections, const AddOptions& options)
{
    Q_UNUSED(selections) Q_UNUSED(options) 
}

void IpfsClient::onAddReplyReadyRead(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onAddReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
