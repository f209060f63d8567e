#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QTextDocument;
class SlicedWork;

// Fills the document of a text view with many lines a slice at a time, so that the window answers
// while hundreds of thousands of lines go in. A short text goes in at once, before start() returns.
class TextFeeder : public QObject
{
    Q_OBJECT

public:
    enum class LongLines { Keep, Clip };
    // The text of line `index`, asked for only when that line goes in: a long report need not be
    // built whole first.
    using LineSource = std::function<QString(qsizetype index)>;

    TextFeeder(QTextDocument* document, LongLines longLines, QObject* parent);

    // Adds the lines after the document's text, one line each; finished() follows the last.
    void start(qsizetype count, LineSource lineAt);
    void start(const QStringList& lines);
    // One more line, after those still to come.
    void append(const QString& line);
    // Stops where it is; the lines still to come are dropped and finished() is not sent.
    void stop();
    bool isFeeding() const;

signals:
    void finished();

private:
    bool insertNextLines();
    void onFed();
    qsizetype total() const { return sourceCount + appended.size(); }
    QString lineAt(qsizetype index) const;

    QPointer<QTextDocument> document;
    LongLines longLines;
    qsizetype sourceCount = 0;
    LineSource source;
    QStringList appended; // lines that came while feeding, after the source's
    qsizetype next = 0;
    SlicedWork* work = nullptr;
};
