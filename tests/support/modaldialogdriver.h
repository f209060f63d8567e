#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the next modal dialog: polls until QApplication::activeModalWidget() shows a visible
// dialog that is not `skip`, then runs the action on it (which presses a button or accepts it).
// Call before the action that opens the dialog; chain further answers from inside the action.
class ModalDialogDriver : public QObject
{
public:
    using Action = std::function<void(QWidget*)>;

    static void answerNext(Action action, QWidget* skip = nullptr, int timeoutMs = 20000)
    {
        new ModalDialogDriver(std::move(action), skip, timeoutMs);
    }

private:
    ModalDialogDriver(Action action, QWidget* skip, int timeoutMs)
        : QObject(qApp)
        , action(std::move(action))
        , skip(skip)
        , deadline(timeoutMs)
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &ModalDialogDriver::poll);
        timer.start();
    }

    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal != skip) {
            timer.stop();
            deleteLater();
            action(modal);
            return;
        }
        if (deadline.hasExpired()) {
            timer.stop();
            deleteLater();
        }
    }

    Action action;
    QPointer<QWidget> skip;
    QDeadlineTimer deadline;
    QTimer timer;
};
