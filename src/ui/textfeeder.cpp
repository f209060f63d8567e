#include "textfeeder.h"

#include "displaytext.h"
#include "slicedwork.h"

#include <QTextCursor>
#include <QTextDocument>

namespace {

// Lines inserted at once; a slice holds as many of these as its time allows.
constexpr qsizetype kLinesPerInsert = 500;

} // namespace

TextFeeder::TextFeeder(QTextDocument* document, LongLines longLines, QObject* parent)
    : QObject(parent)
    , document(document)
    , longLines(longLines)
    , work(new SlicedWork(this))
{
    connect(work, &SlicedWork::finished, this, &TextFeeder::onFed);
}

bool TextFeeder::isFeeding() const
{
    return work->isRunning();
}

void TextFeeder::start(qsizetype count, LineSource lineAt)
{
    stop();
    sourceCount = count;
    source = std::move(lineAt);
    // A read-only view: an undo history would only hold a second copy of every line (and clearing
    // the view may switch it back on).
    if (document)
        document->setUndoRedoEnabled(false);
    work->start([this] { return insertNextLines(); });
}

void TextFeeder::start(const QStringList& lines)
{
    start(lines.size(), [lines](qsizetype index) { return lines.at(index); });
}

void TextFeeder::append(const QString& line)
{
    if (isFeeding()) {
        appended.append(line);
        return;
    }
    start(QStringList { line });
}

void TextFeeder::stop()
{
    work->stop();
    sourceCount = 0;
    source = nullptr;
    appended.clear();
    next = 0;
}

QString TextFeeder::lineAt(qsizetype index) const
{
    return index < sourceCount ? source(index) : appended.at(index - sourceCount);
}

// No edit block: the view lays out each insert at once, so the slice's time counts it too.
bool TextFeeder::insertNextLines()
{
    if (!document || next >= total())
        return false;
    QString text;
    if (next > 0 || !document->isEmpty())
        text += u'\n';
    const qsizetype end = qMin(next + kLinesPerInsert, total());
    for (qsizetype index = next; index < end; ++index) {
        if (index > next)
            text += u'\n';
        text += lineAt(index);
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(longLines == LongLines::Clip ? clipLongLines(text) : text);
    next = end;
    return next < total();
}

void TextFeeder::onFed()
{
    stop();
    emit finished();
}
