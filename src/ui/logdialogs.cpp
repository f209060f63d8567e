#include "logdialogs.h"

#include "dialogsizing.h"
#include "mainwindow.h"
#include "textfeeder.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

void attachLogSizing(QDialog* dialog, const QString& settingsKey)
{
    DialogSizing::Options options;
    options.settingsKey = settingsKey;
    options.minimumSize = QSize(640, 400);
    options.preferredSize = QSize(1200, 760);
    options.maxScreenWidthFraction = 0.9;
    options.maxScreenHeightFraction = 0.7;
    DialogSizing::attach(dialog, options);
}

// The notice of dropped lines over the read-only view over the Clear button; returns the view.
// A plain-text view: logs of a busy node run to hundreds of thousands of lines, which a rich-text
// view would lay out whole just to show the last one.
QPlainTextEdit* buildLogLayout(
    QDialog* dialog, const QString& placeholder, QLabel** droppedNotice, QPushButton** clearButton)
{
    auto* layout = new QVBoxLayout(dialog);
    *droppedNotice = new QLabel(dialog);
    (*droppedNotice)->setObjectName(QStringLiteral("droppedNotice"));
    (*droppedNotice)->setTextFormat(Qt::PlainText);
    (*droppedNotice)->setWordWrap(true);
    (*droppedNotice)->hide();
    layout->addWidget(*droppedNotice);
    auto* view = new QPlainTextEdit(dialog);
    view->setReadOnly(true);
    QFont font(QStringLiteral("Monospace"), 14);
    font.setStyleHint(QFont::Monospace);
    view->setFont(font);
    view->setPlaceholderText(placeholder);
    layout->addWidget(view);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    *clearButton = new QPushButton(QStringLiteral("Clear"), dialog);
    buttonRow->addWidget(*clearButton);
    layout->addLayout(buttonRow);
    return view;
}

// The view keeps as many lines as the log: the oldest go as new ones arrive.
void showDropped(QLabel* notice, qint64 dropped, qsizetype limit)
{
    notice->setVisible(dropped > 0);
    if (dropped > 0)
        notice->setText(
            QStringLiteral("Older lines were dropped: the log keeps its newest %1 lines (%2 dropped).")
                .arg(limit)
                .arg(dropped));
}

// The feeder of a log view: once the last line is in, the view shows the end.
TextFeeder* attachFeeder(QDialog* dialog, QPlainTextEdit* view)
{
    auto* feeder = new TextFeeder(view->document(), TextFeeder::LongLines::Keep, dialog);
    QObject::connect(feeder, &TextFeeder::finished, view, [dialog, view] {
        view->moveCursor(QTextCursor::End);
        DialogSizing::requestRefit(dialog);
    });
    return feeder;
}

void showWholeLog(TextFeeder* feeder, QPlainTextEdit* view, const QStringList& lines, qsizetype limit)
{
    feeder->stop();
    view->clear();
    view->setMaximumBlockCount(int(limit));
    feeder->start(lines);
}

void appendLine(TextFeeder* feeder, const QString& line)
{
    if (!line.isEmpty())
        feeder->append(line);
}

void clearView(TextFeeder* feeder, QPlainTextEdit* view, QLabel* droppedNotice)
{
    feeder->stop();
    view->clear();
    droppedNotice->hide();
}

} // namespace

RpcLogDialog::RpcLogDialog(MainWindow* owner, QWidget* parent)
    : QDialog(parent)
    , owner(owner)
{
    setWindowTitle(QStringLiteral("Kubo RPC Log"));
    attachLogSizing(this, QStringLiteral("Dialogs/RpcLogDialog"));
    view = buildLogLayout(this, QStringLiteral("No RPC commands issued yet."), &droppedNotice, &clearButton);
    feeder = attachFeeder(this, view);
    connect(clearButton, &QPushButton::clicked, this, &RpcLogDialog::onClearClicked);
}

void RpcLogDialog::refreshLog()
{
    if (!owner)
        return;
    showDropped(droppedNotice, owner->rpcLogDropped(), owner->rpcLogLineLimit());
    showWholeLog(feeder, view, owner->rpcLog(), owner->rpcLogLineLimit());
}

void RpcLogDialog::showEvent(QShowEvent* event)
{
    refreshLog();
    if (owner)
        connect(owner, &MainWindow::rpcLogAppended, this, &RpcLogDialog::appendLogLine, Qt::UniqueConnection);
    QDialog::showEvent(event);
}

void RpcLogDialog::appendLogLine(const QString& line)
{
    appendLine(feeder, line);
    if (owner)
        showDropped(droppedNotice, owner->rpcLogDropped(), owner->rpcLogLineLimit());
}

void RpcLogDialog::onClearClicked()
{
    if (owner)
        owner->clearRpcLog();
    clearView(feeder, view, droppedNotice);
}

StatusLogDialog::StatusLogDialog(MainWindow* owner, QWidget* parent)
    : QDialog(parent)
    , owner(owner)
{
    setWindowTitle(QStringLiteral("Status Log"));
    attachLogSizing(this, QStringLiteral("Dialogs/StatusLogDialog"));
    view = buildLogLayout(this, QStringLiteral("No status messages yet."), &droppedNotice, &clearButton);
    feeder = attachFeeder(this, view);
    connect(clearButton, &QPushButton::clicked, this, &StatusLogDialog::onClearClicked);
}

void StatusLogDialog::refreshLog()
{
    if (!owner)
        return;
    showDropped(droppedNotice, owner->statusLogDropped(), owner->statusLogLineLimit());
    showWholeLog(feeder, view, owner->statusLog(), owner->statusLogLineLimit());
}

void StatusLogDialog::showEvent(QShowEvent* event)
{
    refreshLog();
    if (owner)
        connect(owner, &MainWindow::statusLogAppended, this, &StatusLogDialog::appendLogLine,
            Qt::UniqueConnection);
    QDialog::showEvent(event);
}

void StatusLogDialog::appendLogLine(const QString& line)
{
    appendLine(feeder, line);
    if (owner)
        showDropped(droppedNotice, owner->statusLogDropped(), owner->statusLogLineLimit());
}

void StatusLogDialog::onClearClicked()
{
    if (owner)
        owner->clearStatusLog();
    clearView(feeder, view, droppedNotice);
}
