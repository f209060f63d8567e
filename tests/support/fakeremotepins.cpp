#include "fakeremotepins.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

void FakeRemotePins::set(const QString& cid, const QString& status, const QString& name)
{
    for (Pin& pin : pins) {
        if (pin.cid == cid) {
            pin.status = status;
            pin.name = name;
            return;
        }
    }
    pins.append({ cid, status, name });
}

FakeKuboNode::Response FakeRemotePins::answer(const FakeKuboNode::Request& request) const
{
    if (request.queryValue(QStringLiteral("service")) != service)
        return FakeKuboNode::kuboError(QStringLiteral("service not known"));

    static const QStringList known = { QStringLiteral("queued"), QStringLiteral("pinning"),
        QStringLiteral("pinned"), QStringLiteral("failed") };
    QStringList statuses = request.queryValues(QStringLiteral("status"));
    for (const QString& status : std::as_const(statuses)) {
        // A comma is no separator: "queued,failed" is one unknown status.
        if (!known.contains(status))
            return FakeKuboNode::kuboError(QStringLiteral("status \"%1\" is not valid").arg(status));
    }
    if (statuses.isEmpty())
        statuses = QStringList { QStringLiteral("pinned") };
    const QStringList cids = request.queryValues(QStringLiteral("cid"));

    QList<QByteArray> lines;
    for (const Pin& pin : pins) {
        if (!statuses.contains(pin.status) || (!cids.isEmpty() && !cids.contains(pin.cid)))
            continue;
        const QJsonObject line { { QStringLiteral("Status"), pin.status }, { QStringLiteral("Cid"), pin.cid },
            { QStringLiteral("Name"), pin.name } };
        lines.append(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    }
    return FakeKuboNode::streamed(lines);
}
