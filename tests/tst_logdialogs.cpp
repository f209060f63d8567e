#include <QtTest>

#include "fakekubonode.h"
#include "ipfsclient.h"
#include "logdialogs.h"
#include "loglines.h"
#include "mainwindowfixture.h"
#include "testsettings.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>

using namespace MainWindowFixture;

namespace {

QPlainTextEdit* viewOf(QDialog* dialog)
{
    return dialog ? dialog->findChild<QPlainTextEdit*>() : nullptr;
}

QStringList shownLines(QDialog* dialog)
{
    const QString text = viewOf(dialog)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

// Opens the status or RPC log window of the main window and returns it.
QDialog* openLog(MainWindow& window, bool rpc, MainWindow::AuxWindowMode mode = MainWindow::ChildWindow)
{
    if (rpc) {
        window.showRpcLogDialog(mode);
        return onlyLiveWidget<RpcLogDialog>();
    }
    window.showStatusLogDialog(mode);
    return onlyLiveWidget<StatusLogDialog>();
}

} // namespace

class TestLogDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void statusLogShowsStartLine();
    void followsLiveLines_data();
    void followsLiveLines();
    void linesStayPlainText();
    void clearEmptiesViewAndLog_data();
    void clearEmptiesViewAndLog();
    void logKeepsItsNewestLines();
    void windowSaysOlderLinesWereDropped_data();
    void windowSaysOlderLinesWereDropped();

private:
    FakeKuboNode node;
};

void TestLogDialogs::initTestCase()
{
    useIsolatedTestSettings();
    silenceOffscreenPlatformWarnings();
    QVERIFY(node.start());
    node.route(
        QStringLiteral("/id"), FakeKuboNode::json(R"({"ID":"12D3KooWTest","AgentVersion":"kubo/0.41.0"})"));
}

void TestLogDialogs::cleanup()
{
    deleteTopLevelDialogs();
}

void TestLogDialogs::statusLogShowsStartLine()
{
    auto window = openMainWindow(node);
    QDialog* dialog = openLog(*window, false);
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Status Log"));
    const QStringList lines = shownLines(dialog);
    QVERIFY(!lines.isEmpty());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Ready$"))
                 .match(lines.first())
                 .hasMatch(),
        qPrintable(lines.first()));
    QCOMPARE(lines, window->statusLog());
}

void TestLogDialogs::followsLiveLines_data()
{
    QTest::addColumn<bool>("rpc");
    QTest::newRow("status log") << false;
    QTest::newRow("RPC log") << true;
}

void TestLogDialogs::followsLiveLines()
{
    QFETCH(bool, rpc);
    auto window = openMainWindow(node);
    auto* client = window->findChild<IpfsClient*>();
    QVERIFY(client);
    QDialog* dialog = openLog(*window, rpc);
    QVERIFY(dialog);

    // Each event leaves its line; the RPC log's lines are told apart by the key asked for.
    auto produceLine = [&](const QString& marker) {
        if (rpc)
            client->fetchConfigKey(marker, false);
        else
            window->setStatusMessage(marker);
    };
    auto shownCount = [&](const QString& marker) {
        const QStringList lines = shownLines(dialog);
        return std::count_if(
            lines.cbegin(), lines.cend(), [&](const QString& line) { return line.contains(marker); });
    };
    produceLine(QStringLiteral("bafyfirst"));
    QTRY_COMPARE(shownCount(QStringLiteral("bafyfirst")), 1);

    // Hiding and showing again neither loses nor doubles lines.
    dialog->hide();
    produceLine(QStringLiteral("bafyhidden"));
    dialog->show();
    produceLine(QStringLiteral("bafyshown"));
    QTRY_COMPARE(shownCount(QStringLiteral("bafyshown")), 1);
    QCOMPARE(shownCount(QStringLiteral("bafyhidden")), 1);
    QCOMPARE(shownLines(dialog), rpc ? window->rpcLog() : window->statusLog());
    if (rpc) {
        const QString line = shownLines(dialog).last();
        QVERIFY2(line.contains(QStringLiteral("] POST http://127.0.0.1:%1/api/v0/").arg(node.port())),
            qPrintable(line));
    }
    // The newest line is in view.
    QCOMPARE(viewOf(dialog)->textCursor().position(), viewOf(dialog)->document()->characterCount() - 1);

    // Empty lines are not shown.
    const QStringList before = shownLines(dialog);
    if (rpc)
        static_cast<RpcLogDialog*>(dialog)->appendLogLine(QString());
    else
        static_cast<StatusLogDialog*>(dialog)->appendLogLine(QString());
    QCOMPARE(shownLines(dialog), before);
}

void TestLogDialogs::linesStayPlainText()
{
    auto window = openMainWindow(node);
    QDialog* dialog = openLog(*window, false);
    window->setStatusMessage(QStringLiteral("<b>not bold</b> &amp;"));
    QVERIFY(shownLines(dialog).contains(window->statusLog().last()));
    QVERIFY(window->statusLog().last().endsWith(QStringLiteral("  <b>not bold</b> &amp;")));
}

void TestLogDialogs::clearEmptiesViewAndLog_data()
{
    QTest::addColumn<bool>("rpc");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("placeholder");
    QTest::newRow("status log") << false << QStringLiteral("Status Log")
                                << QStringLiteral("No status messages yet.");
    QTest::newRow("RPC log") << true << QStringLiteral("Kubo RPC Log")
                             << QStringLiteral("No RPC commands issued yet.");
}

void TestLogDialogs::clearEmptiesViewAndLog()
{
    QFETCH(bool, rpc);
    QFETCH(QString, title);
    QFETCH(QString, placeholder);
    auto window = openMainWindow(node);
    window->findChild<IpfsClient*>()->fetchNodeInfo();
    QTRY_VERIFY(!window->rpcLog().isEmpty());

    QPointer<QDialog> dialog = openLog(*window, rpc, MainWindow::SeparateWindow);
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), title);
    QVERIFY(!shownLines(dialog).isEmpty());
    auto* clear = dialog->findChild<QPushButton*>();
    QCOMPARE(clear->text(), QStringLiteral("Clear"));
    clear->click();
    QVERIFY(shownLines(dialog).isEmpty());
    QVERIFY((rpc ? window->rpcLog() : window->statusLog()).isEmpty());

    // Closed and gone at once, before the window's own requests can add lines again.
    dialog->close();
    delete dialog.data();
    QVERIFY(appSettings().contains(
        QStringLiteral("Dialogs/%1/geometry")
            .arg(rpc ? QStringLiteral("RpcLogDialog") : QStringLiteral("StatusLogDialog"))));

    // A new window on the emptied log shows its placeholder.
    dialog = openLog(*window, rpc);
    QVERIFY(dialog);
    QVERIFY(shownLines(dialog).isEmpty());
    QCOMPARE(viewOf(dialog)->placeholderText(), placeholder);
}

void TestLogDialogs::logKeepsItsNewestLines()
{
    LogLines log(3);
    for (int i = 1; i <= 5; ++i)
        log.append(QString::number(i));
    QCOMPARE(log.lines(), (QStringList { QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5") }));
    QCOMPARE(log.dropped(), 2);
    log.clear();
    QVERIFY(log.lines().isEmpty());
    QCOMPARE(log.dropped(), 0);
    log.append(QStringLiteral("6"));
    QCOMPARE(log.lines(), QStringList { QStringLiteral("6") });
}

void TestLogDialogs::windowSaysOlderLinesWereDropped_data()
{
    QTest::addColumn<bool>("rpc");
    QTest::addColumn<int>("limit");
    QTest::newRow("status log") << false << 50000;
    QTest::newRow("RPC log") << true << 200000;
}

// A week of auto-refresh makes millions of lines: each log keeps its newest lines up to its bound,
// and its window shows those and says that older ones were dropped.
void TestLogDialogs::windowSaysOlderLinesWereDropped()
{
    QFETCH(bool, rpc);
    QFETCH(int, limit);
    auto window = openMainWindow(node);
    auto* client = window->findChild<IpfsClient*>();
    const auto produce = [&](int number) {
        const QString text = QStringLiteral("line %1").arg(number);
        if (rpc)
            emit client->rpcRequestIssued(text);
        else
            window->setStatusMessage(text);
    };
    const auto log = [&] { return rpc ? window->rpcLog() : window->statusLog(); };
    QTRY_VERIFY(!window->rpcLog().isEmpty()); // the window's first request
    (rpc ? window->clearRpcLog() : window->clearStatusLog());
    QCOMPARE(rpc ? window->rpcLogLineLimit() : window->statusLogLineLimit(), limit);
    for (int number = 1; number <= limit; ++number)
        produce(number);
    QDialog* dialog = openLog(*window, rpc);
    auto* notice = dialog->findChild<QLabel*>(QStringLiteral("droppedNotice"));
    QVERIFY(notice->isHidden());
    // The view fills a slice at a time: opening the window is no freeze.
    QVERIFY2(viewOf(dialog)->blockCount() < limit, qPrintable(QString::number(viewOf(dialog)->blockCount())));

    produce(limit + 1);
    produce(limit + 2);
    QCOMPARE(log().size(), limit);
    QVERIFY(log().first().endsWith(QStringLiteral("line 3")));
    const QString newest = QStringLiteral("line %1").arg(limit + 2);
    QVERIFY(log().last().endsWith(newest));
    QVERIFY(!notice->isHidden());
    QCOMPARE(notice->text(),
        QStringLiteral("Older lines were dropped: the log keeps its newest %1 lines (2 dropped).").arg(limit));
    // The window holds what the log holds, also when lines arrive while it fills.
    QTRY_COMPARE_WITH_TIMEOUT(viewOf(dialog)->blockCount(), limit, 60000);
    QTRY_VERIFY(viewOf(dialog)->document()->lastBlock().text().endsWith(newest));
    QVERIFY(viewOf(dialog)->document()->firstBlock().text().endsWith(QStringLiteral("line 3")));

    // Shown again from the start, and after Clear. A closed window is gone before it opens anew,
    // as it is between two clicks.
    const auto closeAndWait = [](QDialog* closing) {
        const QPointer<QDialog> guard(closing);
        closing->close();
        QTRY_VERIFY(guard.isNull());
    };
    closeAndWait(dialog);
    dialog = openLog(*window, rpc);
    notice = dialog->findChild<QLabel*>(QStringLiteral("droppedNotice"));
    QVERIFY(!notice->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(viewOf(dialog)->blockCount(), limit, 60000);
    // Clear while the view still fills: nothing of the old log comes in after.
    closeAndWait(dialog);
    dialog = openLog(*window, rpc);
    notice = dialog->findChild<QLabel*>(QStringLiteral("droppedNotice"));
    QVERIFY(viewOf(dialog)->blockCount() < limit);
    dialog->findChild<QPushButton*>()->click();
    for (int turn = 0; turn < 5; ++turn)
        QCoreApplication::processEvents();
    QCOMPARE(viewOf(dialog)->toPlainText(), QString());
    QVERIFY(notice->isHidden());
    produce(1);
    QCOMPARE(log().size(), 1);
    QVERIFY(notice->isHidden());
}

QTEST_MAIN(TestLogDialogs)
#include "tst_logdialogs.moc"
