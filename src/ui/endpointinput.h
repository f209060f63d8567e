#pragma once

#include <QString>

// What the settings' host field holds: a host name or address, "host:port", or a URL pasted from
// a browser or a node's output ("http://127.0.0.1:5001/webui"), of which the host and port count.
struct EndpointInput {
    QString host; // without brackets; empty when the text is empty or refused
    int port = 0; // the port the text names; 0 when it names none
    QString error; // why the text was refused; empty when it was taken
};

EndpointInput parseEndpointInput(const QString& text);

// The message for a port outside 1 to 65535, typed or pasted.
QString endpointPortError();
