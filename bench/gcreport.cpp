#include "windowsteps.h"

#include "benchsupport.h"
#include "gcdialog.h"
#include "ipfsclient.h"
#include "nodeprocess.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

QJsonObject measureGcReport(int cids)
{
    const NodeProcess node({ QStringLiteral("--gc-cids"), QString::number(cids) });
    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), node.port());
    GcDialog dialog(&client);
    dialog.resize(860, 560);
    dialog.show();
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("statusLabel"));
    auto* runGc = dialog.findChild<QPushButton*>(QStringLiteral("runGcButton"));
    auto* output = dialog.findChild<QTextEdit*>(QStringLiteral("outputEdit"));
    if (!status || !runGc || !output)
        qFatal("the repository window lacks its status line, GC button or report");
    // Opening the window asks for the repository statistics; the collection is asked for after.
    waitUntil([&] { return runGc->isEnabled() && !status->text().contains(QLatin1String("...")); }, 10000);

    StallMeter stall;
    QElapsedTimer timer;
    stall.start();
    timer.start();
    runGc->click();
    if (!waitUntil([&] { return status->text().contains(QLatin1String("GC completed")); }, 300000))
        qFatal("the collection did not complete: %s", qPrintable(status->text()));
    // Layout and the first paint of the report.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const double ms = elapsedMs(timer);
    const double stallMs = stall.stop();
    const QString report = output->toPlainText();

    QJsonObject figures;
    figures.insert(QStringLiteral("cids"), cids);
    figures.insert(QStringLiteral("ms"), ms);
    figures.insert(QStringLiteral("stallMs"), stallMs);
    figures.insert(
        QStringLiteral("reportComplete"), report.contains(QStringLiteral("Collected entries: %1").arg(cids)));
    figures.insert(QStringLiteral("peakMiB"), procStatusMiB("VmHWM"));
    return figures;
}
