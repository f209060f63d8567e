#pragma once

// Every window of the application open at once on one main window, after a node has answered all
// their requests: for tests that look at what every window shows.

#include "addtoipfsdialog.h"
#include "fakekubonode.h"
#include "indirectpinsdialog.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "mainwindowfixture.h"
#include "pincontentsdialog.h"
#include "settingsdialog.h"

#include <QDeadlineTimer>
#include <QNetworkReply>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace WindowTour {

// Every command the windows send.
inline QStringList nodeCommands()
{
    return { QStringLiteral("/pin/ls"), QStringLiteral("/refs/local"), QStringLiteral("/pin/rm"),
        QStringLiteral("/cid/format"), QStringLiteral("/refs"), QStringLiteral("/dag/stat"),
        QStringLiteral("/files/stat"), QStringLiteral("/ls"), QStringLiteral("/cat"), QStringLiteral("/id"),
        QStringLiteral("/config/show"), QStringLiteral("/config"), QStringLiteral("/config/replace"),
        QStringLiteral("/stats/dht"), QStringLiteral("/bitswap/stat"), QStringLiteral("/repo/stat"),
        QStringLiteral("/repo/gc"), QStringLiteral("/swarm/peers"), QStringLiteral("/swarm/addrs"),
        QStringLiteral("/swarm/addrs/listen"), QStringLiteral("/swarm/connect"),
        QStringLiteral("/swarm/disconnect"), QStringLiteral("/bootstrap/list"),
        QStringLiteral("/bootstrap/add"), QStringLiteral("/bootstrap/rm"),
        QStringLiteral("/bootstrap/rm/all"), QStringLiteral("/add"), QStringLiteral("/pin/remote/service/ls"),
        QStringLiteral("/pin/remote/service/add"), QStringLiteral("/pin/remote/service/rm"),
        QStringLiteral("/pin/remote/add"), QStringLiteral("/pin/remote/ls"), QStringLiteral("/key/list"),
        QStringLiteral("/name/publish"), QStringLiteral("/name/resolve") };
}

// A node's error answer with this message, whose status line (which a proxy in front of the node
// may write) says the same.
inline FakeKuboNode::Response nodeFailure(const QString& message)
{
    FakeKuboNode::Response failure = FakeKuboNode::kuboError(message);
    failure.reason = message.left(200).toUtf8();
    return failure;
}

// Every command fails with this message.
inline void failEveryCommand(FakeKuboNode& node, const QString& message)
{
    for (const QString& command : nodeCommands())
        node.route(command, nodeFailure(message));
}

// Until the client has had no request in flight for a few turns of the event loop.
inline bool waitUntilQuiet(IpfsClient* client, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    int quietTurns = 0;
    while (!deadline.hasExpired()) {
        QTest::qWait(20);
        quietTurns = client->findChildren<QNetworkReply*>().isEmpty() ? quietTurns + 1 : 0;
        if (quietTurns >= 5)
            return true;
    }
    return false;
}

struct Window {
    QString name;
    QPointer<QWidget> widget;
};

// Opens every window the main window can show (the administration and log windows as child windows;
// the add, settings, pin contents and indirect pins dialogs shown without their modal loops) and
// waits until the node has answered what they asked, or, for a node that holds its answers, until
// their layouts have settled. The main window comes first.
enum class Wait { ForAnswers, ForLayouts };
inline QList<Window> openEveryWindow(MainWindow& main, const QString& cid, Wait wait = Wait::ForAnswers)
{
    IpfsClient* client = main.findChild<IpfsClient*>();
    QList<Window> windows { { QStringLiteral("main window"), &main } };
    const auto settle = [client, wait] {
        if (wait == Wait::ForAnswers)
            return waitUntilQuiet(client);
        QTest::qWait(300);
        return true;
    };
    if (!client || !settle())
        return {};
    const MainWindow::AuxWindowMode child = MainWindow::ChildWindow;
    main.showConfigDialog(child);
    main.showRemoteServicesDialog(child);
    main.showGcDialog(child);
    main.showNetworkDialog(child);
    main.showSwarmDialog(child);
    main.showDhtStatsDialog(child);
    main.showStatusLogDialog(child);
    main.showRpcLogDialog(child);
    const QList<QDialog*> opened = main.findChildren<QDialog*>(Qt::FindDirectChildrenOnly);
    for (QDialog* dialog : opened)
        windows.append({ QString::fromLatin1(dialog->metaObject()->className()), dialog });

    const QList<QWidget*> ownDialogs { new AddToIpfsDialog(client, &main), new SettingsDialog(&main),
        new PinContentsDialog(cid, client, &main), new IndirectPinsDialog(cid, client, &main) };
    for (QWidget* dialog : ownDialogs) {
        dialog->show();
        windows.append({ QString::fromLatin1(dialog->metaObject()->className()), dialog });
    }
    if (!settle())
        return {};
    return windows;
}

} // namespace WindowTour
