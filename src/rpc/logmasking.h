#pragma once

#include <QString>

class QUrl;

// The fully encoded form of a request URL for the RPC log, with secrets replaced by "***":
// the access token of "/pin/remote/service/add" (its third "arg"), the value set for a config key
// that holds or may hold one (remote pinning services, identity, leaves named like a key, token,
// secret or password), and any query item named like a credential.
// The request itself keeps the real values; only what is written to the log is masked.
QString maskSecretsForLog(const QUrl& url);

// A failure text about the request to url with the same secrets masked: the network layer's
// error strings quote the whole URL, and a node may quote a value back.
QString maskSecretsInText(const QString& text, const QUrl& url);
