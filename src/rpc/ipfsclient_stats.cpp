#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchDhtStats(const QString& arg)
{
    Q_UNUSED(arg) 
}

void IpfsClient::fetchBitswapStat(bool verbose, bool human)
{
    Q_UNUSED(verbose) Q_UNUSED(human) 
}

void IpfsClient::onDhtStatsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onBitswapStatReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}
