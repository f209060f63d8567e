#pragma once

#include <QByteArray>
#include <QString>

class QNetworkReply;

// Texts for a reply that failed.

// What went wrong: the node's own message for an answer with an error status or a failure after
// its answer began, else the network layer's words; a transfer ended by the request's transfer
// timeout says so instead of "Operation canceled".
QString replyErrorString(const QNetworkReply* reply);

// The message of a node's error body: the "Message" of its JSON error object, or a short plain
// text; empty when the body holds neither (an HTML page, a long dump, nothing).
QString nodeErrorMessage(const QByteArray& body);

// The body of a failed reply when the node wrote it as its error text, else empty: only an answer
// with an error status is one. A body cut short by a dropped connection is data.
QByteArray nodeErrorBody(const QNetworkReply* reply, const QByteArray& body);

// The detail of a failed reply: the node's message in its error body, or else replyErrorString.
QString failureDetail(const QNetworkReply* reply, const QByteArray& body);

// Whether the node itself answered (with an error status or a failure after its answer began),
// as against a network failure: a node that answers is connected.
bool nodeAnswered(const QNetworkReply* reply);
