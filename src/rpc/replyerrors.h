#pragma once

#include <QByteArray>
#include <QString>

class QNetworkReply;

// Texts for a reply that failed.

// What went wrong, in the network layer's words; a transfer ended by the request's transfer
// timeout says so instead of "Operation canceled".
QString replyErrorString(const QNetworkReply* reply);

// The body of a failed reply when the node wrote it as its error text, else empty: only an answer
// with an error status is one. A body cut short by a dropped connection is data.
QByteArray nodeErrorBody(const QNetworkReply* reply, const QByteArray& body);

// The detail of a failed reply: the node's error body, trimmed, or else replyErrorString.
QString failureDetail(const QNetworkReply* reply, const QByteArray& body);
