#pragma once

#include <QDialog>
#include <QPointer>

class MainWindow;
class QLabel;
class QPushButton;
class QShowEvent;
class QPlainTextEdit;
class TextFeeder;

// The two windows on the main window's in-memory logs. Each shows the whole log when shown (the
// newest lines the log keeps, and a notice when older ones were dropped), follows new lines while
// it lives, and can clear the log. The owner may die first (a window
// opened on its own has no parent): then only the view is touched. A log of hundreds of thousands
// of lines goes into the view a slice at a time, the window answering meanwhile.

class RpcLogDialog : public QDialog
{
    Q_OBJECT

public:
    RpcLogDialog(MainWindow* owner, QWidget* parent = nullptr);

    void refreshLog();

public slots:
    void appendLogLine(const QString& line);
    void onClearClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<MainWindow> owner;
    QLabel* droppedNotice = nullptr; // shown once the log has dropped lines
    QPlainTextEdit* view = nullptr;
    TextFeeder* feeder = nullptr; // the view's lines go in a slice at a time
    QPushButton* clearButton = nullptr;
};

class StatusLogDialog : public QDialog
{
    Q_OBJECT

public:
    StatusLogDialog(MainWindow* owner, QWidget* parent = nullptr);

    void refreshLog();

public slots:
    void appendLogLine(const QString& line);
    void onClearClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<MainWindow> owner;
    QLabel* droppedNotice = nullptr; // shown once the log has dropped lines
    QPlainTextEdit* view = nullptr;
    TextFeeder* feeder = nullptr; // the view's lines go in a slice at a time
    QPushButton* clearButton = nullptr;
};
