#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// What one unpin did. The CIDs are the caller's texts, each once, in the caller's order.
struct UnpinReport {
    QStringList removed;   // the node no longer holds their pins
    QStringList notPinned; // the node holds no pin for them in any form looked for
    QStringList failed;    // the node refused, or could not be asked
    QString failure;       // the node's words for the first failure
    int indirectLeftOut = 0; // never sent: an indirect pin goes only with the pin that holds it

    int asked() const { return int(removed.size() + notPinned.size() + failed.size()) + indirectLeftOut; }
};
Q_DECLARE_METATYPE(UnpinReport)
