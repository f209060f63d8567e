#pragma once

#include <QJsonValue>
#include <QVariant>

// A JSON number, or a text holding one, as a 64-bit integer; 0 for anything else. Nodes send
// sizes as numbers in some replies and as text in others.
inline qint64 jsonToInt64(const QJsonValue& value)
{
    if (!value.isDouble() && !value.isString())
        return 0;
    return value.toVariant().toLongLong();
}
