#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>

#include "appsettings.h"
#include "displaytext.h"
#include "fakekubonode.h"
#include "gcdialog.h"
#include "ipfsclient.h"

using namespace Qt::StringLiterals;

// The repo stats window against the fake node: its reports, its status line and when it loads.
class TestGcDialog : public QObject
{
    Q_OBJECT

    struct Window {
        FakeKuboNode node;
        IpfsClient client;
        GcDialog* dialog = nullptr;
        QSignalSpy* statusBar = nullptr;

        Window()
        {
            node.start();
            client.setEndpoint(node.host(), node.port());
            dialog = new GcDialog(&client, nullptr);
            statusBar = new QSignalSpy(dialog, &GcDialog::statusMessageRequested);
        }
        ~Window()
        {
            delete statusBar;
            delete dialog;
        }
        QLabel* status() const { return dialog->findChild<QLabel*>(u"statusLabel"_s); }
        QTextEdit* output() const { return dialog->findChild<QTextEdit*>(u"outputEdit"_s); }
        QPushButton* statsButton() const { return dialog->findChild<QPushButton*>(u"repoStatsButton"_s); }
        QPushButton* gcButton() const { return dialog->findChild<QPushButton*>(u"runGcButton"_s); }
        QStringList statusBarTexts() const
        {
            QStringList texts;
            for (const QList<QVariant>& args : *statusBar)
                texts << args.first().toString();
            return texts;
        }
        // The report without its time-stamped first line, which is checked on its own.
        QStringList reportBody(const QString& header) const
        {
            QStringList lines = output()->toPlainText().split(u'\n');
            const QRegularExpression stamp(u"^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "_s
                + QRegularExpression::escape(header) + u'$');
            if (lines.isEmpty() || !stamp.match(lines.first()).hasMatch())
                return { u"bad header: "_s + lines.value(0) };
            lines.removeFirst();
            return lines;
        }
    };

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { appSettings().clear(); }

    void formatBytes_data();
    void formatBytes();
    void statReport_data();
    void statReport();
    void gcReport_data();
    void gcReport();
    void failuresShowTheMessageInDarkRed_data();
    void failuresShowTheMessageInDarkRed();
    void largeCollectionIsReadWholeAndListedInSlices();
    void buttonsWaitForTheAnswer();
    void onlyAnEmptyReportLoadsOnShow();
};

void TestGcDialog::formatBytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("negative") << qint64(-1) << QString();
    QTest::newRow("zero") << qint64(0) << u"0 B"_s;
    QTest::newRow("1023") << qint64(1023) << u"1023 B"_s;
    QTest::newRow("1024") << qint64(1024) << u"1.0 KiB"_s;
    QTest::newRow("1536") << qint64(1536) << u"1.5 KiB"_s;
    QTest::newRow("2^20 - 1 rounds up") << qint64((1 << 20) - 1) << u"1024.0 KiB"_s;
    QTest::newRow("2^20") << qint64(1 << 20) << u"1.0 MiB"_s;
    QTest::newRow("2^30") << qint64(1) * (1 << 30) << u"1.0 GiB"_s;
    QTest::newRow("5 TiB stays in GiB") << qint64(5) * (qint64(1) << 40) << u"5120.0 GiB"_s;
}

void TestGcDialog::formatBytes()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(GcDialog::formatBytes(bytes), text);
}

void TestGcDialog::statReport_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("every member, numeric limit")
        << QByteArray(R"({"RepoSize":1536,"StorageMax":2048,"NumObjects":12,"RepoPath":"/home/u/.ipfs",)"
                      R"("Version":"fs-repo@16"})")
        << QStringList { u"NumObjects: 12"_s, u"RepoSize: 1.5 KiB (1536 B)"_s,
               u"StorageMax: 2.0 KiB (2048 B)"_s, u"RepoPath: /home/u/.ipfs"_s, u"Version: fs-repo@16"_s };
    QTest::newRow("no limit") << QByteArray(R"({"RepoSize":10737418240,"NumObjects":3})")
                              << QStringList { u"NumObjects: 3"_s, u"RepoSize: 10.0 GiB (10737418240 B)"_s };
    QTest::newRow("textual limit comes second")
        << QByteArray(R"({"StorageMax":"10GB","RepoSize":2048})")
        << QStringList { u"StorageMax: 10GB"_s, u"NumObjects: 0"_s, u"RepoSize: 2.0 KiB (2048 B)"_s };
    QTest::newRow("zero limit") << QByteArray(R"({"StorageMax":0})")
                                << QStringList { u"NumObjects: 0"_s, u"RepoSize: 0 B (0 B)"_s,
                                       u"StorageMax: 0 B (0 B)"_s };
    // A node without a limit reports 2^64 - 1; the same on every processor.
    QTest::newRow("limit beyond 64 bits means none")
        << QByteArray(R"({"StorageMax":18446744073709551615,"RepoSize":1536})")
        << QStringList { u"NumObjects: 0"_s, u"RepoSize: 1.5 KiB (1536 B)"_s };
    QTest::newRow("counts beyond 64 bits show a dash")
        << QByteArray(R"({"NumObjects":18446744073709551615,"RepoSize":1e30})")
        << QStringList { u"NumObjects: \u2014"_s, u"RepoSize: \u2014"_s };
    QTest::newRow("missing counts are zero")
        << QByteArray("{}") << QStringList { u"NumObjects: 0"_s, u"RepoSize: 0 B (0 B)"_s };
    QTest::newRow("negative values show a dash")
        << QByteArray(R"({"NumObjects":-1,"RepoSize":-5,"StorageMax":-1})")
        << QStringList { u"NumObjects: \u2014"_s, u"RepoSize: \u2014"_s };
    QTest::newRow("empty texts drop their lines, others are not trimmed")
        << QByteArray(R"({"RepoPath":"","Version":" v1 "})")
        << QStringList { u"NumObjects: 0"_s, u"RepoSize: 0 B (0 B)"_s, u"Version:  v1 "_s };
}

void TestGcDialog::statReport()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, lines);
    Window window;
    window.node.route(u"/repo/stat"_s, FakeKuboNode::json(reply));

    window.dialog->show(); // the first showing loads the statistics
    QTRY_COMPARE(window.status()->text(), u"Repo stats loaded"_s);
    QCOMPARE(window.reportBody(u"/api/v0/repo/stat"_s), lines);
    QCOMPARE(window.status()->styleSheet(), QString());
    QCOMPARE(window.statusBarTexts(), (QStringList { u"Fetching repo stats..."_s, u"Repo stats loaded"_s }));
    QVERIFY(window.statsButton()->isEnabled());
    QVERIFY(window.gcButton()->isEnabled());
}

void TestGcDialog::gcReport_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("statusBar");

    QTest::newRow("nothing collected") << QByteArray()
                                       << QStringList { u"Collected entries: 0"_s, u"Errors: 0"_s, QString(),
                                              u"No collected CIDs returned."_s }
                                       << u"Repo GC finished: 0 collected, 0 errors"_s;
    QTest::newRow("cids and an error") << QByteArray(
        "{\"Key\":{\"/\":\"bafyA\"}}\n{\"Error\":\"cannot remove bafyX\"}\n{\"Key\":{\"/\":\"bafyB\"}}\n")
                                       << QStringList { u"Collected entries: 2"_s, u"Errors: 1"_s, QString(),
                                              u"Errors:"_s, u" - cannot remove bafyX"_s, QString(),
                                              u"Collected CIDs:"_s, u" - bafyA"_s, u" - bafyB"_s }
                                       << u"Repo GC finished: 2 collected, 1 errors"_s;
    QTest::newRow("errors only") << QByteArray("{\"Error\":\"e1\"}\n{\"Error\":\"e2\"}\n")
                                 << QStringList { u"Collected entries: 0"_s, u"Errors: 2"_s, QString(),
                                        u"Errors:"_s, u" - e1"_s, u" - e2"_s, QString(),
                                        u"No collected CIDs returned."_s }
                                 << u"Repo GC finished: 0 collected, 2 errors"_s;
}

void TestGcDialog::gcReport()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, lines);
    QFETCH(QString, statusBar);
    Window window;
    window.node.route(u"/repo/stat"_s, FakeKuboNode::json("{}"));
    window.node.route(u"/repo/gc"_s, FakeKuboNode::streamed({ reply }));
    window.dialog->show();
    QTRY_COMPARE(window.status()->text(), u"Repo stats loaded"_s);
    window.statusBar->clear();

    window.gcButton()->click();
    QTRY_COMPARE(window.status()->text(), u"GC completed"_s);
    QCOMPARE(window.reportBody(u"/api/v0/repo/gc completed"_s), lines);
    QCOMPARE(window.statusBarTexts(), (QStringList { u"Running repo garbage collection..."_s, statusBar }));
    QCOMPARE(window.node.requests(u"/repo/gc"_s).first().queryValue(u"stream-errors"_s), u"true"_s);
}

void TestGcDialog::failuresShowTheMessageInDarkRed_data()
{
    QTest::addColumn<bool>("gc");
    QTest::addColumn<QString>("messagePrefix");
    QTest::addColumn<QString>("statusBarLead");
    QTest::newRow("repo stats") << false << u"Failed to get repo stat: "_s << u"Repo stats error: "_s;
    QTest::newRow("repo gc") << true << u"Failed to run repo GC: "_s << u"Repo GC error: "_s;
}

void TestGcDialog::failuresShowTheMessageInDarkRed()
{
    QFETCH(bool, gc);
    QFETCH(QString, messagePrefix);
    QFETCH(QString, statusBarLead);
    Window window;
    window.node.route(
        u"/repo/stat"_s, gc ? FakeKuboNode::json("{}") : FakeKuboNode::kuboError(u"repo locked"_s));
    window.node.route(u"/repo/gc"_s, FakeKuboNode::kuboError(u"gc busy"_s));
    window.dialog->show();
    QTRY_VERIFY(window.statsButton()->isEnabled());
    if (gc) {
        window.gcButton()->click();
        QTRY_VERIFY(window.gcButton()->isEnabled());
    }

    // The report holds the message alone.
    const QString message = window.output()->toPlainText();
    QVERIFY2(message.startsWith(messagePrefix), qPrintable(message));
    QCOMPARE(window.statusBarTexts().last(), statusBarLead + message);
    QCOMPARE(window.status()->text(), message);
    QCOMPARE(window.status()->styleSheet(), errorTextStyle());
    QVERIFY(window.statsButton()->isEnabled());
}

// Hundreds of thousands of removed blocks are read in turns and all listed; the report goes in a
// slice at a time, so the window answers meanwhile, and it says "GC completed" once all is in.
void TestGcDialog::largeCollectionIsReadWholeAndListedInSlices()
{
    constexpr int count = 45000;
    QStringList cids;
    QByteArray body;
    for (int i = 0; i < count; ++i) {
        cids << u"bafy%1"_s.arg(i);
        body += "{\"Key\":{\"/\":\"" + cids.last().toLatin1() + "\"}}\n";
        if (i == 30000)
            body += "{\"Error\":\"cannot remove bafyX\"}\n";
    }
    Window window;
    window.node.route(u"/repo/stat"_s, FakeKuboNode::json("{}"));
    window.node.route(u"/repo/gc"_s, FakeKuboNode::streamed({ body }));
    QSignalSpy completed(&window.client, &IpfsClient::repoGcCompleted);
    int linesWhenAnswered = -1;
    connect(&window.client, &IpfsClient::repoGcCompleted, this,
        [&] { linesWhenAnswered = window.output()->document()->blockCount(); });
    window.dialog->show();
    QTRY_COMPARE(window.status()->text(), u"Repo stats loaded"_s);

    window.gcButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(window.status()->text(), u"GC completed"_s, 30000);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.first().at(0).toStringList(), cids);
    QCOMPARE(completed.first().at(1).toStringList(), QStringList { u"cannot remove bafyX"_s });
    QVERIFY2(linesWhenAnswered > 0 && linesWhenAnswered < count, qPrintable(QString::number(linesWhenAnswered)));
    QVERIFY(window.gcButton()->isEnabled());

    QStringList listed;
    for (int i = 0; i < count; ++i)
        listed << u" - "_s + cids.at(i);
    QCOMPARE(window.reportBody(u"/api/v0/repo/gc completed"_s),
        QStringList({ u"Collected entries: 45000"_s, u"Errors: 1"_s, QString(), u"Errors:"_s,
            u" - cannot remove bafyX"_s, QString(), u"Collected CIDs:"_s })
            + listed);
}

void TestGcDialog::buttonsWaitForTheAnswer()
{
    Window window;
    QCOMPARE(window.dialog->windowTitle(), u"Repo stats"_s);
    QCOMPARE(window.status()->text(), u"Repo stats"_s);
    QCOMPARE(window.status()->styleSheet(), hintTextStyle());

    window.node.route(u"/repo/stat"_s, FakeKuboNode::json("{}"));
    window.node.route(u"/repo/gc"_s, FakeKuboNode::held());
    window.dialog->show();
    QTRY_COMPARE(window.status()->text(), u"Repo stats loaded"_s);

    window.gcButton()->click(); // no question before collecting
    QCOMPARE(window.status()->text(), u"Running GC..."_s);
    QVERIFY(window.output()->toPlainText().isEmpty());
    QVERIFY(!window.statsButton()->isEnabled());
    QVERIFY(!window.gcButton()->isEnabled());
    QTRY_COMPARE(window.node.heldCount(u"/repo/gc"_s), 1);

    window.node.releaseHeld(u"/repo/gc"_s, FakeKuboNode::text(""));
    QTRY_VERIFY(window.gcButton()->isEnabled());
    QVERIFY(window.statsButton()->isEnabled());
    QCOMPARE(window.status()->text(), u"GC completed"_s);
}

void TestGcDialog::onlyAnEmptyReportLoadsOnShow()
{
    Window window;
    window.node.route(u"/repo/stat"_s, FakeKuboNode::json(R"({"NumObjects":1})"));
    window.dialog->show();
    QTRY_COMPARE(window.status()->text(), u"Repo stats loaded"_s);
    QCOMPARE(window.node.requestCount(u"/repo/stat"_s), 1);

    // A later showing keeps the last report: no request is even issued (the log line comes with
    // the call, before the node could have seen anything).
    QSignalSpy issued(&window.client, &IpfsClient::rpcRequestIssued);
    window.dialog->hide();
    window.dialog->show();
    QCOMPARE(issued.size(), 0);
    QCOMPARE(window.status()->text(), u"Repo stats loaded"_s);

    // A blank report counts as empty.
    window.output()->setPlainText(u"  \n "_s);
    window.dialog->hide();
    window.dialog->show();
    QCOMPARE(issued.size(), 1);
    QCOMPARE(window.status()->text(), u"Loading repo stats..."_s);
    QTRY_COMPARE(window.node.requestCount(u"/repo/stat"_s), 2);
}

QTEST_MAIN(TestGcDialog)
#include "tst_gcdialog.moc"
