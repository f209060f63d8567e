#include <QtTest>

#include "configdialog.h"
#include "dhtstatsdialog.h"
#include "fakekubonode.h"
#include "gcdialog.h"
#include "logdialogs.h"
#include "mainwindowfixture.h"
#include "networkstatsdialog.h"
#include "remoteservicesdialog.h"
#include "swarmdialog.h"
#include "testsettings.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>

#include <functional>

using namespace MainWindowFixture;

namespace {

struct AdminWindow {
    QString button; // empty: no tool bar button
    void (MainWindow::*show)(MainWindow::AuxWindowMode);
    QString openedText;
    QString closedText;
    std::function<QList<QDialog*>()> instances;
};

template <typename T> std::function<QList<QDialog*>()> instancesOf()
{
    return [] {
        QList<QDialog*> dialogs;
        const QList<T*> found = liveWidgets<T>();
        for (T* dialog : found)
            dialogs.append(dialog);
        return dialogs;
    };
}

const QList<AdminWindow>& adminWindows()
{
    static const QList<AdminWindow> windows {
        { QStringLiteral("Repo stats"), &MainWindow::showGcDialog, QStringLiteral("Opened GC window"),
            QStringLiteral("GC window closed"), instancesOf<GcDialog>() },
        { QStringLiteral("DHT stats"), &MainWindow::showDhtStatsDialog,
            QStringLiteral("Opened DHT stats window"), QStringLiteral("DHT stats window closed"),
            instancesOf<DhtStatsDialog>() },
        { QStringLiteral("Network"), &MainWindow::showNetworkDialog, QStringLiteral("Opened network window"),
            QStringLiteral("Network window closed"), instancesOf<NetworkStatsDialog>() },
        { QStringLiteral("Swarm"), &MainWindow::showSwarmDialog, QStringLiteral("Opened swarm window"),
            QStringLiteral("Swarm window closed"), instancesOf<SwarmDialog>() },
        { QStringLiteral("Kubo config"), &MainWindow::showConfigDialog,
            QStringLiteral("Opened config window"), QStringLiteral("Config window closed"),
            instancesOf<ConfigDialog>() },
        { QString(), &MainWindow::showRemoteServicesDialog, QStringLiteral("Opened remote services window"),
            QStringLiteral("Remote services window closed"), instancesOf<RemoteServicesDialog>() },
    };
    return windows;
}

void verifyMode(QDialog* dialog, MainWindow* window, MainWindow::AuxWindowMode mode)
{
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::NonModal);
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    if (mode == MainWindow::ChildWindow) {
        QCOMPARE(dialog->parentWidget(), window);
        QCOMPARE(dialog->windowType(), Qt::Dialog);
    } else {
        QCOMPARE(dialog->parentWidget(), nullptr);
        QCOMPARE(dialog->windowType(), Qt::Window);
    }
}

QAction* menuAction(MainWindow& window, const QString& text)
{
    const QList<QAction*> menus = window.menuBar()->actions();
    for (QAction* menu : menus) {
        if (!menu->menu())
            continue;
        const QList<QAction*> actions = menu->menu()->actions();
        for (QAction* action : actions) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}

} // namespace

class TestAuxWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void toolbarButtonKeepsOneInstance_data();
    void toolbarButtonKeepsOneInstance();
    void remoteServicesOpenFromFileMenu();
    void newWindowHalfMovesWindowKeepingState();
    void windowStatusMessagesReachStatusLine();
    void logWindowsKeepOneInstanceAndLogNothing();
    void destroyingMainWindowWithOpenWindows_data();
    void destroyingMainWindowWithOpenWindows();

private:
    FakeKuboNode node;
};

void TestAuxWindows::initTestCase()
{
    useIsolatedTestSettings();
    silenceOffscreenPlatformWarnings();
    QVERIFY(node.start());
}

void TestAuxWindows::cleanup()
{
    deleteTopLevelDialogs();
}

void TestAuxWindows::toolbarButtonKeepsOneInstance_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < adminWindows().size(); ++i) {
        if (!adminWindows().at(i).button.isEmpty())
            QTest::newRow(qPrintable(adminWindows().at(i).button)) << i;
    }
}

void TestAuxWindows::toolbarButtonKeepsOneInstance()
{
    QFETCH(int, index);
    const AdminWindow& entry = adminWindows().at(index);
    auto window = openMainWindow(node);

    QPushButton* button = windowButton(*window, entry.button, false);
    QPushButton* newWindowButton = windowButton(*window, entry.button, true);
    QVERIFY(button && newWindowButton);
    QCOMPARE(button->toolTip(), QStringLiteral("Open as child window"));
    QCOMPARE(newWindowButton->toolTip(), QStringLiteral("Open in new window"));

    button->click();
    button->click();
    QCOMPARE(entry.instances().size(), 1);
    QPointer<QDialog> first = entry.instances().first();
    verifyMode(first, window.get(), MainWindow::ChildWindow);
    QCOMPARE(loggedCount(*window, entry.openedText), 2);
    QCOMPARE(loggedCount(*window, entry.closedText), 0);

    first->close();
    QTRY_VERIFY(first.isNull());
    QCOMPARE(entry.instances().size(), 0);
    QCOMPARE(loggedCount(*window, entry.closedText), 1);

    // The next request builds a fresh window.
    newWindowButton->click();
    QCOMPARE(entry.instances().size(), 1);
    verifyMode(entry.instances().first(), window.get(), MainWindow::SeparateWindow);
    QCOMPARE(loggedCount(*window, entry.openedText), 3);
}

void TestAuxWindows::remoteServicesOpenFromFileMenu()
{
    auto window = openMainWindow(node);
    QAction* action = menuAction(*window, QStringLiteral("Remote &Services..."));
    QVERIFY(action);
    action->trigger();
    action->trigger();
    QCOMPARE(liveWidgets<RemoteServicesDialog>().size(), 1);
    QPointer<QDialog> dialog = liveWidgets<RemoteServicesDialog>().first();
    verifyMode(dialog, window.get(), MainWindow::SeparateWindow);
    QCOMPARE(loggedCount(*window, QStringLiteral("Opened remote services window")), 2);

    dialog->close();
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(loggedCount(*window, QStringLiteral("Remote services window closed")), 1);
}

void TestAuxWindows::newWindowHalfMovesWindowKeepingState()
{
    auto window = openMainWindow(node);
    windowButton(*window, QStringLiteral("Kubo config"), false)->click();
    QPointer<ConfigDialog> dialog = onlyLiveWidget<ConfigDialog>();
    QVERIFY(dialog);
    auto* keyEdit = dialog->findChild<QLineEdit*>();
    QVERIFY(keyEdit);
    keyEdit->setText(QStringLiteral("Addresses.API"));

    windowButton(*window, QStringLiteral("Kubo config"), true)->click();
    QCOMPARE(onlyLiveWidget<ConfigDialog>(), dialog.data());
    verifyMode(dialog, window.get(), MainWindow::SeparateWindow);
    QCOMPARE(keyEdit->text(), QStringLiteral("Addresses.API"));
    QCOMPARE(loggedCount(*window, QStringLiteral("Opened config window")), 2);

    windowButton(*window, QStringLiteral("Kubo config"), false)->click();
    QCOMPARE(onlyLiveWidget<ConfigDialog>(), dialog.data());
    verifyMode(dialog, window.get(), MainWindow::ChildWindow);
    QCOMPARE(keyEdit->text(), QStringLiteral("Addresses.API"));
    QCOMPARE(loggedCount(*window, QStringLiteral("Config window closed")), 0);
}

void TestAuxWindows::windowStatusMessagesReachStatusLine()
{
    auto window = openMainWindow(node);
    window->showSwarmDialog(MainWindow::SeparateWindow);
    SwarmDialog* dialog = onlyLiveWidget<SwarmDialog>();
    QVERIFY(dialog);
    emit dialog->statusMessageRequested(QStringLiteral("Swarm checked"));
    QCOMPARE(window->statusLog().last().mid(19), QStringLiteral("  Swarm checked"));
}

void TestAuxWindows::logWindowsKeepOneInstanceAndLogNothing()
{
    auto window = openMainWindow(node);
    const int logged = window->statusLog().size();

    windowButton(*window, QStringLiteral("Status log"), false)->click();
    windowButton(*window, QStringLiteral("RPC log"), true)->click();
    QPointer<StatusLogDialog> statusLog = onlyLiveWidget<StatusLogDialog>();
    QPointer<RpcLogDialog> rpcLog = onlyLiveWidget<RpcLogDialog>();
    QVERIFY(statusLog && rpcLog);
    verifyMode(statusLog, window.get(), MainWindow::ChildWindow);
    verifyMode(rpcLog, window.get(), MainWindow::SeparateWindow);

    // Switching modes keeps the same windows.
    windowButton(*window, QStringLiteral("Status log"), true)->click();
    windowButton(*window, QStringLiteral("RPC log"), false)->click();
    QCOMPARE(onlyLiveWidget<StatusLogDialog>(), statusLog.data());
    QCOMPARE(onlyLiveWidget<RpcLogDialog>(), rpcLog.data());
    verifyMode(statusLog, window.get(), MainWindow::SeparateWindow);
    verifyMode(rpcLog, window.get(), MainWindow::ChildWindow);

    statusLog->close();
    rpcLog->close();
    QTRY_VERIFY(statusLog.isNull() && rpcLog.isNull());
    QCOMPARE(window->statusLog().size(), logged);
}

void TestAuxWindows::destroyingMainWindowWithOpenWindows_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("closedJustBefore");
    QTest::newRow("child windows") << int(MainWindow::ChildWindow) << false;
    QTest::newRow("separate windows") << int(MainWindow::SeparateWindow) << false;
    QTest::newRow("child windows, closed just before") << int(MainWindow::ChildWindow) << true;
    QTest::newRow("separate windows, closed just before") << int(MainWindow::SeparateWindow) << true;
}

void TestAuxWindows::destroyingMainWindowWithOpenWindows()
{
    QFETCH(int, mode);
    QFETCH(bool, closedJustBefore);
    const auto windowMode = MainWindow::AuxWindowMode(mode);
    auto window = openMainWindow(node);

    QList<QPointer<QDialog>> admin;
    for (const AdminWindow& entry : adminWindows()) {
        (window.get()->*entry.show)(windowMode);
        admin.append(entry.instances().value(0));
        QVERIFY(admin.last());
    }
    window->setStatusMessage(QStringLiteral("Before the end"));
    window->showStatusLogDialog(windowMode);
    window->showRpcLogDialog(windowMode);
    QPointer<StatusLogDialog> statusLog = onlyLiveWidget<StatusLogDialog>();
    QPointer<RpcLogDialog> rpcLog = onlyLiveWidget<RpcLogDialog>();
    QVERIFY(statusLog && rpcLog);

    if (closedJustBefore) {
        for (const QPointer<QDialog>& dialog : admin)
            dialog->close();
        statusLog->close();
        rpcLog->close();
    }

    QSignalSpy logged(window.get(), &MainWindow::statusLogAppended);
    window.reset();
    QCOMPARE(logged.count(), 0);
    // Nothing that used the client outlives it.
    for (const QPointer<QDialog>& dialog : admin)
        QVERIFY(dialog.isNull());

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (windowMode == MainWindow::ChildWindow || closedJustBefore) {
        QVERIFY(statusLog.isNull());
        QVERIFY(rpcLog.isNull());
        return;
    }

    // A log window on its own outlives its owner: it keeps what it shows and Clear empties it.
    QVERIFY(statusLog && rpcLog);
    auto* view = statusLog->findChild<QPlainTextEdit*>();
    QVERIFY(view->toPlainText().endsWith(QStringLiteral("  Before the end")));
    statusLog->refreshLog();
    statusLog->appendLogLine(QStringLiteral("late line"));
    QVERIFY(view->toPlainText().endsWith(QStringLiteral("late line")));
    statusLog->hide();
    statusLog->show();
    auto* clear = statusLog->findChild<QPushButton*>();
    QVERIFY(clear);
    clear->click();
    QVERIFY(view->toPlainText().isEmpty());
    rpcLog->findChild<QPushButton*>()->click();
    QVERIFY(rpcLog->findChild<QPlainTextEdit*>()->toPlainText().isEmpty());
}

QTEST_MAIN(TestAuxWindows)
#include "tst_auxwindows.moc"
