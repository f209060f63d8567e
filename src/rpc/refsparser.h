#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One line of a "/refs/local" stream: the CID of a local block, or empty when the line
// holds none. Accepts {"Ref": "<cid>", ...} objects and plain CID text.
QString parseRefsLocalLine(const QByteArray& line);

// One line of a "/refs" reply: the ref it names ("Ref", else "Cid" as text or as {"/": ...}),
// or empty when the line names none.
QString parseRefsLine(const QByteArray& line);

// Every ref of a whole "/refs" body, in the node's order, duplicates kept.
QStringList parseRefsReply(const QByteArray& body);

// The first failure a "/refs" body reports: a walk that could not go on is a line
// {"Ref":"","Err":"…"}. Empty when the walk went through.
QString refsWalkError(const QByteArray& body);
