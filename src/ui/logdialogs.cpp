#include "logdialogs.h"

#include "dialogsizing.h"
#include "mainwindow.h"

#include <QFont>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
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

// The read-only view over the Clear button; returns the view.
QTextEdit* buildLogLayout(QDialog* dialog, const QString& placeholder, QPushButton** clearButton)
{
    auto* layout = new QVBoxLayout(dialog);
    auto* view = new QTextEdit(dialog);
    view->setReadOnly(true);
    // Log lines are shown as they are, never taken for markup.
    view->setAcceptRichText(false);
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

void showWholeLog(QDialog* dialog, QTextEdit* view, const QStringList& lines)
{
    view->setPlainText(lines.join(u'\n'));
    if (!lines.isEmpty())
        view->moveCursor(QTextCursor::End);
    DialogSizing::requestRefit(dialog);
}

// Appends one paragraph as plain text, without rendering the log again.
void appendLine(QDialog* dialog, QTextEdit* view, const QString& line)
{
    if (line.isEmpty())
        return;
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!view->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    view->moveCursor(QTextCursor::End);
    DialogSizing::requestRefit(dialog);
}

} // namespace

RpcLogDialog::RpcLogDialog(MainWindow* owner, QWidget* parent)
    : QDialog(parent)
    , owner(owner)
{
    setWindowTitle(QStringLiteral("Kubo RPC Log"));
    attachLogSizing(this, QStringLiteral("Dialogs/RpcLogDialog"));
    view = buildLogLayout(this, QStringLiteral("No RPC commands issued yet."), &clearButton);
    connect(clearButton, &QPushButton::clicked, this, &RpcLogDialog::onClearClicked);
}

void RpcLogDialog::refreshLog()
{
    if (owner)
        showWholeLog(this, view, owner->rpcLog());
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
    appendLine(this, view, line);
}

void RpcLogDialog::onClearClicked()
{
    if (owner)
        owner->clearRpcLog();
    view->clear();
}

StatusLogDialog::StatusLogDialog(MainWindow* owner, QWidget* parent)
    : QDialog(parent)
    , owner(owner)
{
    setWindowTitle(QStringLiteral("Status Log"));
    attachLogSizing(this, QStringLiteral("Dialogs/StatusLogDialog"));
    view = buildLogLayout(this, QStringLiteral("No status messages yet."), &clearButton);
    connect(clearButton, &QPushButton::clicked, this, &StatusLogDialog::onClearClicked);
}

void StatusLogDialog::refreshLog()
{
    if (owner)
        showWholeLog(this, view, owner->statusLog());
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
    appendLine(this, view, line);
}

void StatusLogDialog::onClearClicked()
{
    if (owner)
        owner->clearStatusLog();
    view->clear();
}
