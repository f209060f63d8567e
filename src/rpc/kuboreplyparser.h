#pragma once

#include "ipfsrecords.h"

#include <QByteArray>
#include <QString>

// Reads a generic Kubo reply: a JSON object that may carry an "Error" or "Message" text.
// `failed` and `errorString` describe the transport outcome (network or HTTP error).
KuboReplyResult parseKuboReplyBody(
    const QByteArray& body, bool failed, const QString& errorString, const QString& action);
