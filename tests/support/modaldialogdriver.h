#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

// A modal dialog opened with exec() (or one of Qt's static dialog functions) runs its own event loop
// inside the call that opened it, so a test answers it from a timer. No test may then wait for
// ctest's time limit: a blocking dialog that nobody answers, or that its answer leaves open, is
// rejected after kUnansweredModalMs and fails the running test.
inline constexpr int kUnansweredModalMs = 5000;

// Answers the next modal dialog: polls until QApplication::activeModalWidget() shows a visible
// dialog that is not `skip`, waits until that dialog is the active window (so its focus is where a
// user would find it), then runs the action on it (which presses a button or accepts it). Call
// before the action that opens the dialog; chain further answers from inside the action. A dialog
// the action leaves open must be handed on to a driver armed with it as `skip`. A driver that sees
// no dialog before its time-out, or before the test function that armed it ends, does nothing.
class ModalDialogDriver : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void(QWidget*)>;

    static void answerNext(Action action, QWidget* skip = nullptr, int timeoutMs = 20000)
    {
        new ModalDialogDriver(std::move(action), skip, timeoutMs);
    }

    // Chooses `path` as a user types it into the file name field, then accepts. selectFile() leaves
    // that field alone while it has the focus, and the folder model loads in the background, so
    // neither is relied on; accept() runs the dialog's own checks against the disk.
    static void chooseFile(QFileDialog* dialog, const QString& path)
    {
        dialog->selectFile(path); // clears a selection that would win over the typed name
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY2(nameEdit, "not Qt's own file dialog");
        nameEdit->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    }

    // Whether the modal runs an event loop of its own that only an answer ends. Progress dialogs
    // close when their work ends, and dialogs shown with open() leave the test running.
    static bool blocks(QWidget* modal)
    {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog || qobject_cast<QProgressDialog*>(dialog))
            return false;
        const bool openedWithOpen
            = dialog->windowModality() == Qt::WindowModal && !dialog->testAttribute(Qt::WA_SetWindowModality);
        return !openedWithOpen;
    }

    // Whether a live driver will answer the modal, is answering it, or lets it pass on purpose.
    static bool takesCareOf(QWidget* modal)
    {
        const auto drivers = qApp->findChildren<ModalDialogDriver*>(QString(), Qt::FindDirectChildrenOnly);
        for (const ModalDialogDriver* driver : drivers) {
            if (driver->state == State::Done)
                continue;
            if (driver->answered == modal || driver->skip == modal)
                return true;
            if (driver->state == State::Waiting && driver->isForRunningTest())
                return true;
        }
        return false;
    }

    // Rejects a blocking modal nobody answered and fails the running test with what it showed.
    static void rejectAndFail(QWidget* modal, const char* why)
    {
        QString shown = QStringLiteral("%1 '%2'").arg(
            QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle());
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            shown += QStringLiteral(" (\"%1\")").arg(box->text());
        const QByteArray message = QStringLiteral("%1 %2; rejected it").arg(shown, QLatin1String(why)).toUtf8();
        qobject_cast<QDialog*>(modal)->reject();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
    }

    static void prepareModalDialogs();

private:
    enum class State { Waiting, Answering, Watching, Done };

    ModalDialogDriver(Action action, QWidget* skip, int timeoutMs)
        : QObject(qApp)
        , action(std::move(action))
        , skip(skip)
        , deadline(timeoutMs)
        , testFunction(QTest::currentTestFunction())
        , dataTag(QTest::currentDataTag())
    {
        prepareModalDialogs();
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &ModalDialogDriver::poll);
        timer.start();
    }

    bool isForRunningTest() const
    {
        return testFunction == QTest::currentTestFunction() && dataTag == QTest::currentDataTag();
    }

    void finish()
    {
        state = State::Done;
        timer.stop();
        deleteLater();
    }

    void poll()
    {
        if (state == State::Watching) {
            watch();
            return;
        }
        if (!isForRunningTest()) {
            finish();
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == skip) {
            candidate = nullptr;
            if (deadline.hasExpired())
                finish();
            return;
        }
        if (modal != candidate) {
            candidate = modal;
            sinceShown.start();
        }
        // The offscreen platform activates every window it shows, a moment after the show.
        if (QApplication::activeWindow() != modal && sinceShown.elapsed() < 1000)
            return;
        answer(modal);
    }

    void answer(QWidget* modal)
    {
        timer.stop();
        state = State::Answering;
        answered = modal;
        action(modal);
        if (!answered || !answered->isVisible() || !blocks(answered)) {
            finish();
            return;
        }
        state = State::Watching;
        sinceAnswer.start();
        timer.start();
    }

    // The answer may close the dialog a moment later, or hand it on to another driver.
    void watch()
    {
        if (!answered || !answered->isVisible() || handedOn()) {
            finish();
            return;
        }
        if (QApplication::activeModalWidget() != answered) {
            sinceAnswer.restart(); // a dialog it opened is being answered
            return;
        }
        if (sinceAnswer.elapsed() < kUnansweredModalMs)
            return;
        finish();
        rejectAndFail(answered, "stayed open after its answer");
    }

    bool handedOn() const
    {
        const auto drivers = qApp->findChildren<ModalDialogDriver*>(QString(), Qt::FindDirectChildrenOnly);
        for (const ModalDialogDriver* driver : drivers) {
            if (driver != this && driver->state != State::Done
                && (driver->answered == answered || driver->skip == answered))
                return true;
        }
        return false;
    }

    Action action;
    QPointer<QWidget> skip;
    QDeadlineTimer deadline;
    QByteArray testFunction;
    QByteArray dataTag;
    State state = State::Waiting;
    QPointer<QWidget> candidate;
    QPointer<QWidget> answered;
    QElapsedTimer sinceShown;
    QElapsedTimer sinceAnswer;
    QTimer timer;
};

// Watches the application for a blocking modal dialog that no driver takes care of: it is rejected
// after kUnansweredModalMs and fails the running test, instead of hanging it.
class UnansweredModalGuard : public QObject
{
    Q_OBJECT

public:
    UnansweredModalGuard()
        : QObject(qApp)
    {
        timer.setInterval(50);
        connect(&timer, &QTimer::timeout, this, &UnansweredModalGuard::poll);
        timer.start();
    }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || !ModalDialogDriver::blocks(modal)
            || ModalDialogDriver::takesCareOf(modal)) {
            watched = nullptr;
            return;
        }
        if (modal != watched) {
            watched = modal;
            sinceShown.start();
            return;
        }
        if (sinceShown.elapsed() < kUnansweredModalMs)
            return;
        watched = nullptr;
        ModalDialogDriver::rejectAndFail(modal, "was not answered");
    }

    QPointer<QWidget> watched;
    QElapsedTimer sinceShown;
    QTimer timer;
};

// Once per test process: Qt's own dialogs, which a driver can read and answer whatever platform
// theme is set, and the guard. A process without widgets has no dialogs.
inline void ModalDialogDriver::prepareModalDialogs()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())
        || qApp->findChild<UnansweredModalGuard*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    new UnansweredModalGuard;
}
