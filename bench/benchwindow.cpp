#include "benchwindow.h"

#include "benchsupport.h"
#include "ipfsclient.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>

BenchWindow::BenchWindow()
{
    window.resize(1400, 900);
    window.show();
    client = window.findChild<IpfsClient*>();
    countLabel = window.findChild<QLabel*>(QStringLiteral("countLabel"));
    table = window.findChild<QTableView*>();
    refreshButton = window.findChild<QPushButton*>(QStringLiteral("refreshBtn"));
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text().contains(QLatin1String("Add to IPFS")))
            addButton = button;
    }
    if (!client || !countLabel || !table || !refreshButton || !addButton)
        qFatal("the main window lacks its client, count line, table, refresh or add button");
    // Connected after the window's own slot: counts a table once it is loaded.
    QObject::connect(client, &IpfsClient::pinsReceived, &window, [this] { ++loads; });
}

bool BenchWindow::waitForLoads(int count, int timeoutMs)
{
    return waitUntil([this, count] { return loads >= count; }, timeoutMs);
}
