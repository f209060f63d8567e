#pragma once

#include <QLatin1String>
#include <QString>
#include <QUrl>

// The public IPFS gateway that "/ipfs/" and "/ipns/" links open in the browser.
inline constexpr QLatin1String kPublicGatewayBaseUrl("https://ipfs.io");

// kPublicGatewayBaseUrl + "/ipfs/" + cid (or sub-path), each segment percent-encoded.
QUrl publicIpfsUrl(const QString& cid);
// kPublicGatewayBaseUrl + "/ipns/" + name, each segment percent-encoded.
QUrl publicIpnsUrl(const QString& name);
// The node's own gateway: always port 8080 on the RPC host; invalid when the host is none.
QUrl localGatewayUrl(const QString& rpcHost, const QString& cid);
// The host part of IpfsClient::baseUrl() ("http://<host>:<port>/api/v0").
QString rpcHostFromBaseUrl(const QString& baseUrl);
