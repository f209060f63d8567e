#include "ipfsclient.h"

#include <QNetworkReply>

void IpfsClient::fetchPins(const QString& type, const QString& cidBase, bool upgradeCidV0)
{
    Q_UNUSED(type) Q_UNUSED(cidBase) Q_UNUSED(upgradeCidV0) 
}

void IpfsClient::cancelActiveLoading()
{
    
}

void IpfsClient::onPinsReplyReadyRead(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::onPinsReplyFinished(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::startPinsRequest(const QString& type, const QString& cidBase, bool upgradeCidV0, bool compositeBatch)
{
    Q_UNUSED(type) Q_UNUSED(cidBase) Q_UNUSED(upgradeCidV0) Q_UNUSED(compositeBatch) 
}

void IpfsClient::registerLoadReply(QNetworkReply* reply)
{
    Q_UNUSED(reply) 
}

void IpfsClient::deliverParsedPins(const QList<PinEntry>& pins, int total, const QString& tag, int count,
                           bool compositeBatch, bool forUnpinned, quint64 epoch)
{
    Q_UNUSED(pins) Q_UNUSED(total) Q_UNUSED(tag) Q_UNUSED(count) Q_UNUSED(compositeBatch) Q_UNUSED(forUnpinned) Q_UNUSED(epoch) 
}
