#include "mainwindow.h"

#include "configdialog.h"
#include "dhtstatsdialog.h"
#include "gcdialog.h"
#include "logdialogs.h"
#include "networkstatsdialog.h"
#include "remoteservicesdialog.h"
#include "swarmdialog.h"

#include <QDialog>

template <typename T>
void MainWindow::showAuxDialogImpl(
    QPointer<T>& slot, AuxWindowMode mode, const QString& openedText, const QString& closedText)
{
    if (!slot) {
        T* dialog = new T(client, this);
        slot = dialog;
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // Only this window can be in the slot while it dies: a new one is made once it is empty.
        connect(dialog, &QObject::destroyed, this, [this, &slot, closedText] {
            slot = nullptr;
            setStatusMessage(closedText);
        });
        connect(dialog, &T::statusMessageRequested, this, &MainWindow::setStatusMessage);
    }
    T* dialog = slot;
    configureAuxDialogWindowMode(dialog, mode);
    setStatusMessage(openedText);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainWindow::configureAuxDialogWindowMode(QDialog* dialog, AuxWindowMode mode)
{
    if (!dialog)
        return;
    if (dialog->isVisible())
        dialog->hide();
    if (mode == SeparateWindow)
        dialog->setParent(nullptr, Qt::Window);
    else
        dialog->setParent(this, Qt::Dialog);
    dialog->setWindowModality(Qt::NonModal);
}

void MainWindow::showGcDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(gcDialog, mode, QStringLiteral("Opened GC window"), QStringLiteral("GC window closed"));
}

void MainWindow::showDhtStatsDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(dhtStatsDialog, mode, QStringLiteral("Opened DHT stats window"),
        QStringLiteral("DHT stats window closed"));
}

void MainWindow::showNetworkDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(networkStatsDialog, mode, QStringLiteral("Opened network window"),
        QStringLiteral("Network window closed"));
}

void MainWindow::showSwarmDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(
        swarmDialog, mode, QStringLiteral("Opened swarm window"), QStringLiteral("Swarm window closed"));
}

void MainWindow::showConfigDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(
        configDialog, mode, QStringLiteral("Opened config window"), QStringLiteral("Config window closed"));
}

void MainWindow::showRemoteServicesDialog(AuxWindowMode mode)
{
    showAuxDialogImpl(remoteServicesDialog, mode, QStringLiteral("Opened remote services window"),
        QStringLiteral("Remote services window closed"));
}

namespace {

// The log windows read the logs through their owner and report nothing themselves.
template <typename T> void showLogDialog(MainWindow* owner, QPointer<T>& slot, MainWindow::AuxWindowMode mode)
{
    if (!slot) {
        slot = new T(owner, owner);
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    T* dialog = slot;
    // Hidden by now, so show() runs the window's showEvent, which loads the whole log: loading
    // it here as well would render a long log twice.
    owner->configureAuxDialogWindowMode(dialog, mode);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace

void MainWindow::showStatusLogDialog(AuxWindowMode mode)
{
    showLogDialog(this, statusLogDialog, mode);
}

void MainWindow::showRpcLogDialog(AuxWindowMode mode)
{
    showLogDialog(this, rpcLogDialog, mode);
}

void MainWindow::releaseAuxWindows()
{
    // Left to the base destructor, a child window's destroyed handler would run after our
    // members are gone. The administration windows also work through our client, which dies
    // with us, so they go now in either mode, their handlers cut first. The log windows need
    // nothing: they reach us only through a guarded pointer, and one on its own may outlive us.
    const QList<QPointer<QDialog>> adminWindows { dhtStatsDialog.data(), gcDialog.data(),
        networkStatsDialog.data(), swarmDialog.data(), configDialog.data(), remoteServicesDialog.data() };
    for (const QPointer<QDialog>& window : adminWindows) {
        if (window) {
            disconnect(window, nullptr, this, nullptr);
            delete window.data();
        }
    }
}

void MainWindow::onGcClicked()
{
    showGcDialog(SeparateWindow);
}

void MainWindow::onDhtStatsClicked()
{
    showDhtStatsDialog(SeparateWindow);
}

void MainWindow::onConfigClicked()
{
    showConfigDialog(SeparateWindow);
}

void MainWindow::onRemoteServicesClicked()
{
    showRemoteServicesDialog(SeparateWindow);
}

void MainWindow::onStatusLogClicked()
{
    showStatusLogDialog(SeparateWindow);
}

void MainWindow::onLogClicked()
{
    showRpcLogDialog(SeparateWindow);
}
