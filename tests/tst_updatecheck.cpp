#include <QtTest>

#include "fakekubonode.h"
#include "mainwindowfixture.h"
#include "modaldialogdriver.h"
#include "testsettings.h"
#include "updateversion.h"

#include <QDesktopServices>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

using namespace MainWindowFixture;

namespace {

struct SeenBox {
    QString title;
    QString text;
    QStringList buttons;
    Qt::TextFormat format = Qt::AutoText;
    bool seen = false;
};

// Notes the next message box and presses the button with the given text (mnemonics aside).
void answerNextBox(SeenBox* seen, const QString& buttonText, QWidget* skip)
{
    ModalDialogDriver::answerNext(
        [seen, buttonText](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                modal->close();
                return;
            }
            seen->seen = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->format = box->textFormat();
            QAbstractButton* press = nullptr;
            const QList<QAbstractButton*> buttons = box->buttons();
            for (QAbstractButton* button : buttons) {
                const QString text = button->text().remove(u'&');
                seen->buttons << text;
                if (text == buttonText)
                    press = button;
            }
            if (press)
                press->click();
            else
                box->reject();
        },
        skip);
}

} // namespace

// Takes the URLs that "Open download page" would hand to the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl& url) { urls.append(url); }
};

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void latestVersionText_data();
    void latestVersionText();
    void updateUrls_data();
    void updateUrls();

    void outcomes_data();
    void outcomes();
    void openDownloadPage();
    void secondCheckWhileRunningDoesNothing();
    void aboutBoxStartsCheck();
    void nothingAskedAtStartUp();
    void windowClosedDuringCheck();
    void silentSiteNeverHoldsTheCheck_data();
    void silentSiteNeverHoldsTheCheck();

private:
    // Starts a check and answers its message box with the given button.
    SeenBox runCheck(MainWindow& window, const QString& buttonText);

    FakeKuboNode node;
    UrlCatcher catcher;
};

void TestUpdateCheck::initTestCase()
{
    useIsolatedTestSettings();
    silenceOffscreenPlatformWarnings();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
    QVERIFY(node.start());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "openUrl");
}

void TestUpdateCheck::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void TestUpdateCheck::init()
{
    node.clearRoutes();
    node.clearRequests();
    catcher.urls.clear();
}

void TestUpdateCheck::cleanup()
{
    deleteTopLevelDialogs();
}

void TestUpdateCheck::latestVersionText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QByteArray("1.2.0") << QStringLiteral("1.2.0");
    QTest::newRow("v, CR LF and more lines")
        << QByteArray("v1.2.0\r\nchangelog\r\n") << QStringLiteral("1.2.0");
    QTest::newRow("capital V, blanks") << QByteArray("  V2.0 \n") << QStringLiteral("2.0");
    QTest::newRow("only one v goes") << QByteArray("vv3") << QStringLiteral("v3");
    QTest::newRow("blank lines first") << QByteArray("\r\n\r\n1.3\r\n") << QStringLiteral("1.3");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("UTF-8") << QByteArray("1.2-\xc3\xa9") << QStringLiteral("1.2-\u00e9");
}

void TestUpdateCheck::latestVersionText()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(::latestVersionText(body), expected);
}

void TestUpdateCheck::updateUrls_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("versionUrl");
    QTest::addColumn<QString>("downloadUrl");
    QTest::newRow("root") << QStringLiteral("https://example.org")
                          << QStringLiteral("https://example.org/latest-version.txt")
                          << QStringLiteral("https://example.org");
    QTest::newRow("trailing slash") << QStringLiteral("https://example.org/")
                                    << QStringLiteral("https://example.org/latest-version.txt")
                                    << QStringLiteral("https://example.org");
    QTest::newRow("sub folder") << QStringLiteral("https://example.org/vaxel")
                                << QStringLiteral("https://example.org/vaxel/latest-version.txt")
                                << QStringLiteral("https://example.org/vaxel");
}

void TestUpdateCheck::updateUrls()
{
    QFETCH(QString, site);
    QFETCH(QString, versionUrl);
    QFETCH(QString, downloadUrl);
    QCOMPARE(updateVersionUrl(site).toString(), versionUrl);
    QCOMPARE(updateDownloadUrl(site).toString(), downloadUrl);
}

SeenBox TestUpdateCheck::runCheck(MainWindow& window, const QString& buttonText)
{
    SeenBox seen;
    window.setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    window.checkForUpdates();
    // The busy indicator is up at once and is not the box to answer.
    auto* progress = window.findChild<QProgressDialog*>();
    if (!progress || !progress->isVisible() || progress->windowModality() != Qt::ApplicationModal)
        return seen;
    answerNextBox(&seen, buttonText, progress);
    if (!QTest::qWaitFor([&] { return seen.seen && !progress->isVisible(); }, 20000))
        return SeenBox();
    return seen;
}

void TestUpdateCheck::outcomes_data()
{
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");

    const QString checkTitle = QStringLiteral("Check for update");
    const QString upToDate = QStringLiteral("You are up to date.\nCurrent version: 1.1.4");
    QTest::newRow("newer, with v and CR LF")
        << 200 << QByteArray("v1.2.0\r\nRelease notes\r\n") << QStringLiteral("Update available")
        << QStringLiteral("A newer version is available: 1.2.0\nYou are running: 1.1.4")
        << QStringLiteral("Update available: 1.2.0");
    QTest::newRow("equal") << 200 << QByteArray("1.1.4\n") << checkTitle << upToDate
                           << QStringLiteral("Up to date: 1.1.4");
    QTest::newRow("equal, trailing zero")
        << 200 << QByteArray("1.1.4.0") << checkTitle << upToDate << QStringLiteral("Up to date: 1.1.4");
    QTest::newRow("lower") << 200 << QByteArray("V1.0.9") << checkTitle << upToDate
                           << QStringLiteral("Up to date: 1.1.4");
    QTest::newRow("empty body") << 200 << QByteArray() << checkTitle
                                << QStringLiteral(
                                       "Could not parse version information.\nCurrent: 1.1.4\nLatest: ")
                                << QStringLiteral("Update check failed: invalid version response");
    QTest::newRow("not a version")
        << 200 << QByteArray("<html>oops</html>") << checkTitle
        << QStringLiteral("Could not parse version information.\nCurrent: 1.1.4\nLatest: <html>oops</html>")
        << QStringLiteral("Update check failed: invalid version response");
    // The reply's own error text follows the prefix; the status line repeats the box.
    QTest::newRow("404") << 404 << QByteArray("404 page not found") << checkTitle
                         << QStringLiteral("Update check failed: ") << QString();
}

void TestUpdateCheck::outcomes()
{
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, body);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, status);

    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::text(body, httpStatus));
    auto window = openMainWindow(node);
    {
        // Read at each request, like the node's.
        QSettings settings = appSettings();
        settings.setValue(QStringLiteral("http/sendOrigin"), true);
        settings.setValue(QStringLiteral("http/originValue"), QStringLiteral("http://127.0.0.1:5001"));
    }
    const bool newer = title == QStringLiteral("Update available");
    const SeenBox seen = runCheck(*window, newer ? QStringLiteral("Close") : QStringLiteral("OK"));
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.format, Qt::PlainText);
    if (httpStatus == 200) {
        QCOMPARE(seen.text, text);
        QTRY_COMPARE(loggedCount(*window, status), 1);
    } else {
        QVERIFY2(seen.text.startsWith(text) && seen.text.size() > text.size(), qPrintable(seen.text));
        QVERIFY2(seen.text.contains(QStringLiteral("Not Found")), qPrintable(seen.text));
        QTRY_COMPARE(loggedCount(*window, seen.text), 1);
    }
    if (newer) {
        QCOMPARE(seen.buttons.size(), 2);
        QVERIFY(seen.buttons.contains(QStringLiteral("Open download page")));
        QVERIFY(seen.buttons.contains(QStringLiteral("Close")));
    } else {
        QCOMPARE(seen.buttons, QStringList { QStringLiteral("OK") });
    }
    QVERIFY(catcher.urls.isEmpty());

    // One plain GET that names us, with the configured Origin.
    const QList<FakeKuboNode::Request> requests = node.requests(QStringLiteral("/latest-version.txt"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("GET"));
    QCOMPARE(requests.first().header("User-Agent"), QByteArray("Vaxel/1.1.4"));
    QCOMPARE(requests.first().header("Origin"), QByteArray("http://127.0.0.1:5001"));
    QCOMPARE(loggedCount(*window, QStringLiteral("Checking for updates...")), 1);

    // The check is over: another one runs.
    const SeenBox again = runCheck(*window, newer ? QStringLiteral("Close") : QStringLiteral("OK"));
    QVERIFY(again.seen);
    QCOMPARE(node.requests(QStringLiteral("/latest-version.txt")).size(), 2);
}

void TestUpdateCheck::openDownloadPage()
{
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::text("9.0"));
    auto window = openMainWindow(node);
    const SeenBox seen = runCheck(*window, QStringLiteral("Open download page"));
    QCOMPARE(seen.title, QStringLiteral("Update available"));
    QTRY_COMPARE(loggedCount(*window, QStringLiteral("Update available: 9.0")), 1);
    QCOMPARE(catcher.urls, QList<QUrl> { QUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port())) });
}

void TestUpdateCheck::secondCheckWhileRunningDoesNothing()
{
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::held());
    auto window = openMainWindow(node);
    window->setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    window->checkForUpdates();
    window->checkForUpdates();
    QTRY_COMPARE(node.heldCount(QStringLiteral("/latest-version.txt")), 1);
    QCOMPARE(loggedCount(*window, QStringLiteral("Checking for updates...")), 1);

    SeenBox seen;
    answerNextBox(&seen, QStringLiteral("OK"), window->findChild<QProgressDialog*>());
    node.releaseHeld(QStringLiteral("/latest-version.txt"), FakeKuboNode::text("1.1.4"));
    QTRY_VERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("You are up to date.\nCurrent version: 1.1.4"));
    QCOMPARE(node.requests(QStringLiteral("/latest-version.txt")).size(), 1);
}

void TestUpdateCheck::aboutBoxStartsCheck()
{
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::text("1.1.4"));
    auto window = openMainWindow(node);
    window->setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    QAction* about = nullptr;
    const QList<QAction*> menus = window->menuBar()->actions();
    for (QAction* menu : menus) {
        for (QAction* action : menu->menu()->actions()) {
            if (action->text() == QStringLiteral("About Vaxel"))
                about = action;
        }
    }
    QVERIFY(about);

    bool aboutShown = false;
    ModalDialogDriver::answerNext([&aboutShown](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        aboutShown = box->windowTitle() == QStringLiteral("About Vaxel");
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QStringLiteral("Check for update"))
                button->click();
        }
    });
    about->trigger();
    QVERIFY(aboutShown);
    // The About box has closed and the check is under way: its answer comes next.
    SeenBox answer;
    answerNextBox(&answer, QStringLiteral("OK"), window->findChild<QProgressDialog*>());
    QTRY_VERIFY(answer.seen);
    QCOMPARE(answer.text, QStringLiteral("You are up to date.\nCurrent version: 1.1.4"));
}

void TestUpdateCheck::nothingAskedAtStartUp()
{
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::text("9.0"));
    auto window = openMainWindow(node);
    window->setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    // The first refresh starts 200 ms after construction; give start-up ample time.
    QTest::qWait(600);
    QCOMPARE(node.requestCount(QStringLiteral("/latest-version.txt")), 0);
    QCOMPARE(loggedCount(*window, QStringLiteral("Checking for updates...")), 0);
}

void TestUpdateCheck::windowClosedDuringCheck()
{
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::held());
    auto window = openMainWindow(node);
    window->setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    window->checkForUpdates();
    QTRY_COMPARE(node.heldCount(QStringLiteral("/latest-version.txt")), 1);
    window.reset();
    // The answer finds nobody to tell, and no box comes up.
    node.releaseHeld(QStringLiteral("/latest-version.txt"), FakeKuboNode::text("9.0"));
    QTest::qWait(100);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestUpdateCheck::silentSiteNeverHoldsTheCheck_data()
{
    QTest::addColumn<bool>("pressCancel");
    QTest::newRow("the user cancels") << true;
    QTest::newRow("the silence limit ends it") << false;
}

void TestUpdateCheck::silentSiteNeverHoldsTheCheck()
{
    QFETCH(bool, pressCancel);
    // The site takes the request and never answers.
    node.route(QStringLiteral("/latest-version.txt"), FakeKuboNode::never());
    auto window = openMainWindow(node);
    window->setUpdateSiteUrl(QStringLiteral("http://127.0.0.1:%1").arg(node.port()));
    window->setUpdateCheckSilenceLimit(pressCancel ? 60000 : 300);
    window->checkForUpdates();
    auto* progress = window->findChild<QProgressDialog*>();
    QVERIFY(progress && progress->isVisible());
    QTRY_COMPARE(node.requestCount(QStringLiteral("/latest-version.txt")), 1);

    SeenBox seen;
    if (pressCancel) {
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel && cancel->isVisible());
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        cancel->click();
        QTRY_COMPARE(loggedCount(*window, QStringLiteral("Update check cancelled")), 1);
        QVERIFY(!progress->isVisible());
        QVERIFY(!QApplication::activeModalWidget()); // a cancel asks nothing more
    } else {
        answerNextBox(&seen, QStringLiteral("OK"), progress);
        QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 10000);
        const QString text = QStringLiteral("Update check failed: the update site sent nothing for 0.3 s");
        QCOMPARE(seen.text, text);
        QTRY_COMPARE(loggedCount(*window, text), 1);
        QTRY_VERIFY(!progress->isVisible());
    }

    // The check is over: the next one is sent.
    window->checkForUpdates();
    QTRY_COMPARE(node.requestCount(QStringLiteral("/latest-version.txt")), 2);
    QVERIFY(progress->isVisible());
    progress->findChild<QPushButton*>()->click();
    QTRY_VERIFY(!progress->isVisible());
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
