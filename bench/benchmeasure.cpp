#include "benchmeasure.h"

#include "appsettings.h"
#include "benchsupport.h"
#include "ipfsclient.h"
#include "mainwindow.h"
#include "nodeprocess.h"
#include "pinmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTableView>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

const QString kCompositeFilter = QStringLiteral("recursive+direct");

} // namespace

LoadRun loadPinsOnce(IpfsClient& client, const QStringList& heldCids)
{
    LoadRun run;
    QEventLoop loop;
    StallMeter stall;
    QElapsedTimer timer;
    QObject context;
    QObject::connect(&client, &IpfsClient::pinsReceived, &context, [&](const QList<PinEntry>& pins) {
        run.ms = elapsedMs(timer);
        run.stallMs = stall.stop();
        run.busyMs = stall.longestBusyMs();
        run.pins = pins;
        loop.quit();
    });
    if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE")) {
        QObject::connect(&client, &IpfsClient::streamEntriesLoaded, &context, [&](const QString&, int count) {
            static int last = 0;
            if (count / 100000 != last / 100000 || count < last)
                std::fprintf(stderr, "stream %d at %.1f ms\n", count, elapsedMs(timer));
            last = count;
        });
    }
    QObject::connect(&client, &IpfsClient::errorOccurred, &context,
        [&](const QString& message) { qFatal("load failed: %s", qPrintable(message)); });
    stall.start();
    timer.start();
    client.fetchPins(kCompositeFilter, QStringLiteral("base32"), true, heldCids);
    if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE"))
        std::fprintf(stderr, "fetchPins returned after %.1f ms\n", elapsedMs(timer));
    loop.exec();
    return run;
}

double rawTransferMs(quint16 port)
{
    QNetworkAccessManager manager;
    QEventLoop loop;
    QElapsedTimer timer;
    int open = 0;
    qint64 bytes = 0;
    StallMeter stall;
    stall.start();
    timer.start();
    for (const QString& type : { QStringLiteral("recursive"), QStringLiteral("direct") }) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("type"), type);
        query.addQueryItem(QStringLiteral("names"), QStringLiteral("true"));
        query.addQueryItem(QStringLiteral("stream"), QStringLiteral("true"));
        query.addQueryItem(QStringLiteral("cid-base"), QStringLiteral("base32"));
        query.addQueryItem(QStringLiteral("upgrade-cidv0-in-output"), QStringLiteral("true"));
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v0/pin/ls").arg(port));
        url.setQuery(query);
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, vaxelUserAgent());
        request.setHeader(
            QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        QNetworkReply* reply = manager.post(request, QByteArray());
        ++open;
        QObject::connect(
            reply, &QNetworkReply::readyRead, reply, [reply, &bytes] { bytes += reply->readAll().size(); });
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &bytes, &open, &loop] {
            bytes += reply->readAll().size();
            reply->deleteLater();
            if (--open == 0)
                loop.quit();
        });
    }
    loop.exec();
    const double ms = elapsedMs(timer);
    const double stallMs = stall.stop();
    if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE"))
        std::fprintf(stderr, "raw stall %.1f ms\n", stallMs);
    // The bare reply is read on its manager's network thread, whose heap keeps the freed blocks of
    // whatever it read ahead (5 to 100 MiB at a million pins, from run to run): without this they
    // would count in the memory figures of the client measured next.
    returnFreedPages();
    return ms;
}

namespace {

// The table as the main window builds it: sorted by the Refs column, indirect pins hidden.
struct PinTable {
    PinModel model;
    PinFilterProxyModel proxy;
    QTableView view;

    PinTable()
    {
        proxy.setSourceModel(&model);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        proxy.setTypeFilter(kCompositeFilter);
        view.setModel(&proxy);
        view.setSortingEnabled(true);
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(24);
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.horizontalHeader()->setStretchLastSection(true);
        view.sortByColumn(PinModel::RefsColumn, Qt::AscendingOrder);
        view.resize(1200, 800);
        view.show();
        QCoreApplication::processEvents();
    }
};

// Lets finished worker threads and replies be deleted, so that nothing of a previous run is
// released while the next one is timed.
void settle()
{
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// Runs `step`, then lets the view catch up as it would before the next paint.
template <typename Step> double timed(Step step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    QCoreApplication::processEvents();
    return elapsedMs(timer);
}

struct TableFill {
    double ms = 0;
    double stallMs = 0;
};

// Gives the table a list as the main window does (a large one is made ready on a worker) and
// waits until it shows it.
TableFill fillTable(PinTable& table, const QList<PinEntry>& pins)
{
    StallMeter meter;
    QElapsedTimer timer;
    timer.start();
    meter.start();
    QEventLoop loop;
    QObject::connect(&table.model, &PinModel::pinsApplied, &loop, &QEventLoop::quit);
    table.model.setPinsInBackground(pins);
    if (table.model.isPreparingPins())
        loop.exec();
    table.proxy.rowCount();
    QCoreApplication::processEvents();
    TableFill fill;
    fill.ms = elapsedMs(timer);
    fill.stallMs = meter.stop();
    return fill;
}

} // namespace

QJsonObject measurePinRoad(int pinCount, int runs)
{
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(pinCount) });
    const double baselineMiB = procStatusMiB("VmRSS");

    double rawMs = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run)
        rawMs = std::min(rawMs, rawTransferMs(node.port()));

    IpfsClient client;
    client.setEndpoint(QStringLiteral("127.0.0.1"), node.port());
    PinTable table;
    double loadMs = std::numeric_limits<double>::max();
    double stallMs = std::numeric_limits<double>::max();
    double worstStallMs = 0;
    double worstBusyMs = 0;
    TableFill firstFill;
    TableFill refreshFill { std::numeric_limits<double>::max(), std::numeric_limits<double>::max() };
    double peakMiB = 0;
    for (int run = 0; run < runs; ++run) {
        settle();
        // A refresh shares the CIDs of the table it replaces, as the window's does.
        LoadRun result = loadPinsOnce(client, table.model.cidsInListOrder());
        if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE"))
            std::fprintf(
                stderr, "after load: rss %.0f hwm %.0f\n", procStatusMiB("VmRSS"), procStatusMiB("VmHWM"));
        if (result.pins.size() != pinCount)
            qFatal("expected %d pins, got %lld", pinCount, qlonglong(result.pins.size()));
        loadMs = std::min(loadMs, result.ms);
        stallMs = std::min(stallMs, result.stallMs);
        worstStallMs = std::max(worstStallMs, result.stallMs);
        worstBusyMs = std::max(worstBusyMs, result.busyMs);
        // The first fills an empty table; later ones replace a full one, as a refresh does.
        const TableFill fill = fillTable(table, result.pins);
        if (table.proxy.rowCount() != pinCount)
            qFatal("the table shows %d of %d rows", table.proxy.rowCount(), pinCount);
        if (qEnvironmentVariableIsSet("VAXEL_BENCH_TRACE"))
            std::fprintf(
                stderr, "after table: rss %.0f hwm %.0f\n", procStatusMiB("VmRSS"), procStatusMiB("VmHWM"));
        if (run == 0) {
            firstFill = fill;
            // One load and its table; later runs hold the previous table while loading.
            peakMiB = procStatusMiB("VmHWM");
        } else {
            refreshFill.ms = std::min(refreshFill.ms, fill.ms);
            refreshFill.stallMs = std::min(refreshFill.stallMs, fill.stallMs);
        }
    }

    // A few characters from the middle of a CID, as a user pastes them.
    const QString needle = table.model.pinAt(pinCount / 2)->cid.mid(30, 4);
    double searchMs = std::numeric_limits<double>::max();
    double clearMs = std::numeric_limits<double>::max();
    int matches = 0;
    for (int run = 0; run < runs; ++run) {
        searchMs = std::min(searchMs, timed([&] { table.proxy.setFilterFixedString(needle); }));
        matches = table.proxy.rowCount();
        clearMs = std::min(clearMs, timed([&] { table.proxy.setFilterFixedString(QString()); }));
    }

    QJsonObject figures;
    figures.insert(QStringLiteral("pins"), pinCount);
    figures.insert(
        QStringLiteral("bodyMiB"), node.banner().value(QLatin1String("bodyBytes")).toDouble() / 1048576.0);
    figures.insert(QStringLiteral("loadMs"), loadMs);
    figures.insert(QStringLiteral("rawMs"), rawMs);
    figures.insert(QStringLiteral("tableMs"), firstFill.ms);
    figures.insert(QStringLiteral("tableStallMs"), firstFill.stallMs);
    if (runs > 1) {
        figures.insert(QStringLiteral("tableRefreshMs"), refreshFill.ms);
        figures.insert(QStringLiteral("tableRefreshStallMs"), refreshFill.stallMs);
    }
    figures.insert(QStringLiteral("searchMs"), searchMs);
    figures.insert(QStringLiteral("searchMatches"), matches);
    figures.insert(QStringLiteral("searchClearMs"), clearMs);
    figures.insert(QStringLiteral("stallMs"), stallMs);
    figures.insert(QStringLiteral("worstStallMs"), worstStallMs);
    figures.insert(QStringLiteral("worstBusyMs"), worstBusyMs);
    figures.insert(QStringLiteral("baselineMiB"), baselineMiB);
    figures.insert(QStringLiteral("peakMiB"), peakMiB);
    figures.insert(QStringLiteral("peakAfterRefreshMiB"), procStatusMiB("VmHWM"));
    return figures;
}

QJsonObject measureWindowRoad(int pinCount, bool waitForMetadata)
{
    const NodeProcess node({ QStringLiteral("--pins"), QString::number(pinCount) });
    pointSettingsAtBenchNode(node.port());

    MainWindow window;
    window.resize(1400, 900);
    window.show();
    auto* client = window.findChild<IpfsClient*>();
    auto* countLabel = window.findChild<QLabel*>(QStringLiteral("countLabel"));
    if (!client || !countLabel)
        qFatal("the main window has no client or count line");

    const int expectedRefs = std::min(500, node.banner().value(QLatin1String("recursive")).toInt());
    int refs = 0;
    int sizes = 0;
    int kinds = 0;
    QElapsedTimer sinceRefresh;
    QElapsedTimer sinceTable;
    double tableMs = -1;
    double metadataMs = -1;
    double stallMs = 0;
    StallMeter stall;
    StallMeter metadataStall; // from the request to the last metadata answer
    double metadataStallMs = -1;
    QEventLoop loop;
    const auto checkDone = [&] {
        if (metadataMs < 0 && refs >= expectedRefs && sizes >= pinCount && kinds >= pinCount) {
            metadataMs = elapsedMs(sinceTable);
            metadataStallMs = metadataStall.stop();
            if (waitForMetadata)
                loop.quit();
        }
    };
    // The first refresh begins with its pin listing request.
    QObject::connect(client, &IpfsClient::rpcRequestIssued, &window, [&](const QString& line) {
        if (!sinceRefresh.isValid() && line.contains(QLatin1String("/pin/ls"))) {
            sinceRefresh.start();
            stall.start();
            metadataStall.start();
        }
    });
    // Connected after the window's own slot: runs once the table is loaded.
    QObject::connect(client, &IpfsClient::pinsReceived, &window, [&] {
        tableMs = elapsedMs(sinceRefresh);
        sinceTable.start();
        // The stall figure covers the load, the table and the first second of metadata answers.
        QTimer::singleShot(1000, &window, [&] {
            stallMs = stall.stop();
            if (!waitForMetadata)
                loop.quit();
        });
    });
    QObject::connect(client, &IpfsClient::refsReceived, &window, [&] {
        ++refs;
        checkDone();
    });
    QObject::connect(client, &IpfsClient::dagStatReceived, &window, [&] {
        ++sizes;
        checkDone();
    });
    QObject::connect(client, &IpfsClient::kindReceived, &window, [&] {
        ++kinds;
        checkDone();
    });
    QTimer::singleShot(120000, &loop, [&] { loop.quit(); });
    loop.exec();

    QJsonObject figures;
    figures.insert(QStringLiteral("pins"), pinCount);
    figures.insert(QStringLiteral("windowTableMs"), tableMs);
    figures.insert(QStringLiteral("windowStallMs"), stallMs);
    if (waitForMetadata) {
        // Let the count lines settle: the last answer is shown at once or by the next timer run.
        QElapsedTimer settleTimer;
        settleTimer.start();
        const QString wanted = QStringLiteral("Metadata loaded: %1/%1 CIDs").arg(pinCount);
        while (!countLabel->text().contains(wanted) && settleTimer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        figures.insert(QStringLiteral("refs"), refs);
        figures.insert(QStringLiteral("sizes"), sizes);
        figures.insert(QStringLiteral("kinds"), kinds);
        figures.insert(QStringLiteral("metadataMs"), metadataMs);
        figures.insert(QStringLiteral("metadataStallMs"), metadataStallMs);
    }
    figures.insert(QStringLiteral("countLine"), countLabel->text());
    figures.insert(QStringLiteral("peakMiB"), procStatusMiB("VmHWM"));
    return figures;
}
