#pragma once

#include "fakekubonode.h"

#include <QList>
#include <QPair>
#include <QString>

// The pins one remote pinning service holds, listed the way a Kubo node's "/pin/remote/ls" lists
// them: only "pinned" pins unless "status" items ask for others, several statuses as several
// items, several "cid" items in one request, one {"Status","Cid","Name"} line per pin.
class FakeRemotePins
{
public:
    explicit FakeRemotePins(const QString& service)
        : service(service)
    { }

    // Adds the pin, or changes its status: "queued", "pinning", "pinned" or "failed".
    void set(const QString& cid, const QString& status, const QString& name = QString());

    // The node's answer to a "/pin/remote/ls" request.
    FakeKuboNode::Response answer(const FakeKuboNode::Request& request) const;

private:
    struct Pin {
        QString cid;
        QString status;
        QString name;
    };
    QString service;
    QList<Pin> pins; // in the order the service lists them
};
