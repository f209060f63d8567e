#include "testsettings.h"
#include <QtTest>

#include <QNetworkReply>

#include "appsettings.h"
#include "dialogsizing.h"
#include "fakekubonode.h"
#include "windowtour.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace {

// A dialog whose size hint the test controls through one fixed-size child.
class ProbeDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ProbeDialog(const QSize& content)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        block = new QWidget(this);
        block->setFixedSize(content);
        layout->addWidget(block);
    }
    void setContent(const QSize& content) { block->setFixedSize(content); }

private:
    QWidget* block = nullptr;
};

DialogSizing::Options smallOptions(const QString& key)
{
    DialogSizing::Options options;
    options.settingsKey = key;
    options.minimumSize = QSize(200, 150);
    options.preferredSize = QSize(300, 200);
    options.maxScreenWidthFraction = 0.9;
    options.maxScreenHeightFraction = 0.9;
    return options;
}

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

class TestDialogSizing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        MainWindowFixture::silenceOffscreenPlatformWarnings();
        QVERIFY2(appSettings().fileName().contains(QLatin1String("/vaxel-tests/tst_dialogsizing/")),
            qPrintable(appSettings().fileName()));
    }
    void cleanup() { appSettings().clear(); }

    void bestSize_data();
    void bestSize();
    void firstShowFitsAndContentChangesRefit();
    void userResizeFreezes();
    void restoredGeometryFreezes();
    void unreadableGeometryIsFitted();
    void everyCloseWritesGeometry();
    void acceptWritesGeometry();
    void settingsKeyResolution_data();
    void settingsKeyResolution();
    void secondAttachIsIgnored();
    void requestRefitBeforeShowIsHarmless();
    void longNodeErrorsKeepEveryWindowsSize();
};

void TestDialogSizing::bestSize_data()
{
    QTest::addColumn<QSize>("hint");
    QTest::addColumn<bool>("useHint");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("preferred");
    QTest::addColumn<double>("widthFraction");
    QTest::addColumn<double>("heightFraction");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QSize>("expected");

    const QSize none(-1, -1);
    const QRect small(0, 0, 1000, 700);
    const QRect big(0, 0, 1920, 1080);

    QTest::newRow("large hint capped by 1000x700 screen")
        << QSize(1200, 900) << true << QSize(720, 420) << QSize(820, 500) << 0.85 << 0.8 << small
        << QSize(850, 560);
    QTest::newRow("small hint raised to preferred")
        << QSize(300, 200) << true << QSize(720, 420) << QSize(820, 500) << 0.85 << 0.8 << small
        << QSize(820, 500);
    QTest::newRow("hint between preferred and cap is kept")
        << QSize(900, 600) << true << QSize(500, 400) << QSize(820, 500) << 0.9 << 0.85 << big
        << QSize(900, 600);
    QTest::newRow("nothing known opens at 640x480")
        << QSize(300, 200) << false << none << none << 0.9 << 0.85 << big << QSize(640, 480);
    QTest::newRow("640x480 fallback is still capped")
        << QSize() << true << none << none << 0.5 << 0.5 << small << QSize(500, 350);
    QTest::newRow("hint ignored uses preferred")
        << QSize(1200, 900) << false << none << QSize(700, 500) << 0.9 << 0.85 << big << QSize(700, 500);
    QTest::newRow("empty hint falls back to minimum")
        << QSize(0, 0) << true << QSize(400, 300) << none << 0.9 << 0.85 << big << QSize(400, 300);
    QTest::newRow("minimum enlarges a small hint")
        << QSize(100, 100) << true << QSize(400, 300) << none << 0.9 << 0.85 << big << QSize(400, 300);
    QTest::newRow("cap wins over minimum")
        << QSize(300, 200) << true << QSize(900, 600) << none << 0.5 << 0.5 << small << QSize(500, 350);
    QTest::newRow("zero fraction counts as 0.2") << QSize(900, 900) << true << none << none << 0.0 << -1.0
                                                 << QRect(0, 0, 1000, 1000) << QSize(200, 200);
    QTest::newRow("fraction 0.2 counts as 0.2") << QSize(900, 900) << true << none << none << 0.2 << 0.2
                                                << QRect(0, 0, 1000, 1000) << QSize(200, 200);
    QTest::newRow("NaN fraction counts as 0.2")
        << QSize(900, 900) << true << none << none << std::numeric_limits<double>::quiet_NaN() << 0.5
        << QRect(0, 0, 1000, 1000) << QSize(200, 500);
    QTest::newRow("fraction 1.5 counts as 1.0")
        << QSize(1200, 900) << true << none << none << 1.5 << 1.5 << small << QSize(1000, 700);
    QTest::newRow("cap products are truncated") << QSize(2000, 2000) << true << none << none << 0.85 << 0.85
                                                << QRect(0, 0, 1001, 999) << QSize(850, 849);
    QTest::newRow("no screen gives the base itself")
        << QSize(300, 200) << true << QSize(720, 420) << QSize(820, 500) << 0.85 << 0.8 << QRect()
        << QSize(300, 200);
}

void TestDialogSizing::bestSize()
{
    QFETCH(QSize, hint);
    QFETCH(bool, useHint);
    QFETCH(QSize, minimum);
    QFETCH(QSize, preferred);
    QFETCH(double, widthFraction);
    QFETCH(double, heightFraction);
    QFETCH(QRect, screen);
    QFETCH(QSize, expected);

    DialogSizing::Options options;
    options.useSizeHint = useHint;
    options.minimumSize = minimum;
    options.preferredSize = preferred;
    options.maxScreenWidthFraction = widthFraction;
    options.maxScreenHeightFraction = heightFraction;
    QCOMPARE(DialogSizing::bestSize(hint, options, screen), expected);
}

void TestDialogSizing::firstShowFitsAndContentChangesRefit()
{
    ProbeDialog dialog(QSize(100, 100));
    const DialogSizing::Options options = smallOptions(QStringLiteral("Test/fit"));
    DialogSizing::attach(&dialog, options);
    QCOMPARE(dialog.minimumSize(), QSize(200, 150));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(300, 200));

    // Growing content refits through the layout request alone...
    dialog.setContent(QSize(450, 350));
    QTRY_COMPARE(dialog.size(), QSize(450, 350));

    // ...and shrinking content brings it back, never below the preferred size.
    dialog.setContent(QSize(50, 50));
    DialogSizing::requestRefit(&dialog);
    QTRY_COMPARE(dialog.size(), QSize(300, 200));

    // Content beyond the screen stops at the cap.
    const QSize cap(int(0.9 * available().width()), int(0.9 * available().height()));
    dialog.setContent(available().size() * 2);
    QTRY_COMPARE(dialog.size(), cap);
}

void TestDialogSizing::userResizeFreezes()
{
    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(QStringLiteral("Test/user")));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(300, 200));

    dialog.resize(520, 410);
    dialog.setContent(QSize(450, 350));
    DialogSizing::requestRefit(&dialog);
    QTest::qWait(50);
    QCOMPARE(dialog.size(), QSize(520, 410));

    dialog.setContent(QSize(60, 60));
    DialogSizing::requestRefit(&dialog);
    QTest::qWait(50);
    QCOMPARE(dialog.size(), QSize(520, 410));
}

void TestDialogSizing::restoredGeometryFreezes()
{
    const QString key = QStringLiteral("Test/restore");
    {
        ProbeDialog first(QSize(100, 100));
        DialogSizing::attach(&first, smallOptions(key));
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        first.resize(480, 330);
        QTRY_COMPARE(first.size(), QSize(480, 330));
        first.close();
    }
    QVERIFY(!appSettings().value(key + QStringLiteral("/geometry")).toByteArray().isEmpty());

    ProbeDialog second(QSize(100, 100));
    DialogSizing::attach(&second, smallOptions(key));
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QCOMPARE(second.size(), QSize(480, 330));

    // A fit would give 400 x 300 now; the restored geometry stays.
    second.setContent(QSize(400, 300));
    DialogSizing::requestRefit(&second);
    QTest::qWait(50);
    QCOMPARE(second.size(), QSize(480, 330));
}

void TestDialogSizing::unreadableGeometryIsFitted()
{
    const QString key = QStringLiteral("Test/garbage");
    appSettings().setValue(key + QStringLiteral("/geometry"), QByteArray("not a geometry"));

    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(key));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(300, 200));
    dialog.setContent(QSize(400, 300));
    QTRY_COMPARE(dialog.size(), QSize(400, 300));

    dialog.close();
    QVERIFY(dialog.restoreGeometry(appSettings().value(key + QStringLiteral("/geometry")).toByteArray()));
}

void TestDialogSizing::everyCloseWritesGeometry()
{
    const QString key = QStringLiteral("Test/close");
    const QString geometry = key + QStringLiteral("/geometry");
    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(key));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.close();
    QVERIFY(appSettings().contains(geometry));

    appSettings().remove(geometry);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.close();
    QVERIFY(appSettings().contains(geometry));

    // Without persistence nothing is written.
    ProbeDialog transient(QSize(100, 100));
    DialogSizing::Options options = smallOptions(QStringLiteral("Test/transient"));
    options.persistGeometry = false;
    DialogSizing::attach(&transient, options);
    transient.show();
    transient.close();
    QVERIFY(!appSettings().contains(QStringLiteral("Test/transient/geometry")));
}

void TestDialogSizing::acceptWritesGeometry()
{
    // accept() hides the dialog without a Close event; its geometry must still be kept.
    const QString key = QStringLiteral("Test/accept");
    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(key));
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.resize(444, 333);
        dialog.accept();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));

    ProbeDialog next(QSize(100, 100));
    DialogSizing::attach(&next, smallOptions(key));
    next.show();
    QVERIFY(QTest::qWaitForWindowExposed(&next));
    QCOMPARE(next.size(), QSize(444, 333));
}

void TestDialogSizing::settingsKeyResolution_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty") << QString() << QStringLiteral("Dialogs/ProbeDialog/geometry");
    QTest::newRow("blanks only") << QStringLiteral("   ") << QStringLiteral("Dialogs/ProbeDialog/geometry");
    QTest::newRow("surrounding blanks kept")
        << QStringLiteral(" Test/padded ") << QStringLiteral(" Test/padded /geometry");
}

void TestDialogSizing::settingsKeyResolution()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(given));
    dialog.show();
    dialog.close();
    QVERIFY(appSettings().contains(stored));
}

void TestDialogSizing::secondAttachIsIgnored()
{
    ProbeDialog dialog(QSize(100, 100));
    DialogSizing::attach(&dialog, smallOptions(QStringLiteral("Test/first")));
    DialogSizing::Options other = smallOptions(QStringLiteral("Test/second"));
    other.minimumSize = QSize(500, 400);
    other.preferredSize = QSize(600, 450);
    DialogSizing::attach(&dialog, other);
    QCOMPARE(dialog.minimumSize(), QSize(200, 150));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(300, 200));
    dialog.close();
    QVERIFY(appSettings().contains(QStringLiteral("Test/first/geometry")));
    QVERIFY(!appSettings().contains(QStringLiteral("Test/second/geometry")));
}

void TestDialogSizing::requestRefitBeforeShowIsHarmless()
{
    DialogSizing::requestRefit(nullptr);
    DialogSizing::attach(nullptr, smallOptions(QString()));

    QDialog unattached;
    unattached.resize(123, 97);
    DialogSizing::requestRefit(&unattached);
    QTest::qWait(10);
    QCOMPARE(unattached.size(), QSize(123, 97));

    auto* dialog = new ProbeDialog(QSize(100, 100));
    DialogSizing::attach(dialog, smallOptions(QStringLiteral("Test/early")));
    DialogSizing::requestRefit(dialog);
    delete dialog; // the queued refit dies with it
    QTest::qWait(10);

    ProbeDialog shown(QSize(100, 100));
    DialogSizing::attach(&shown, smallOptions(QStringLiteral("Test/early")));
    DialogSizing::requestRefit(&shown);
    QTest::qWait(10);
    QVERIFY(!shown.isVisible());
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QCOMPARE(shown.size(), QSize(300, 200));
}

namespace {

struct Fit {
    QString window;
    QSize size;
    QSize hint;
    QSize minimum;
    bool operator==(const Fit& other) const
    {
        return window == other.window && size == other.size && hint == other.hint && minimum == other.minimum;
    }
};

// Every window open on a node whose every command fails with this message: how each is fitted, and
// how many of their labels show the message.
QList<Fit> fitsAfterFailures(const QString& message, int* showing)
{
    FakeKuboNode node;
    if (!node.start())
        return {};
    WindowTour::failEveryCommand(node, message);
    auto main = MainWindowFixture::openMainWindow(node);
    const QList<WindowTour::Window> windows = WindowTour::openEveryWindow(
        *main, QStringLiteral("bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi"));
    // A label counts once it has shown the message: a status line may go back to its idle text a
    // few seconds later, and on a busy machine the count would then depend on how long it took.
    // The main window's status line is left out: whichever window's message came last is on it.
    QSet<const QLabel*> shown;
    const QLabel* mainStatusLine = main->findChild<QLabel*>(QStringLiteral("statusLabel"));
    const auto countShowing = [&windows, &message, &shown, mainStatusLine] {
        for (const WindowTour::Window& window : windows) {
            for (QLabel* label : window.widget->findChildren<QLabel*>()) {
                if (label != mainStatusLine && label->window() == window.widget
                    && label->isVisibleTo(window.widget) && label->text().contains(message.left(200)))
                    shown.insert(label);
            }
        }
        return int(shown.size());
    };
    // Every answer is in, then the windows built from them (some on a worker) and the refits they
    // asked for settle: on a busy machine that takes as long as it takes, so the count is read
    // once it has held still for a while.
    if (!QTest::qWaitFor([&main] { return main->findChildren<QNetworkReply*>().isEmpty(); }, 30000))
        return {};
    QElapsedTimer settling;
    settling.start();
    int count = countShowing();
    for (int previous = -1; count != previous && settling.elapsed() < 30000; count = countShowing()) {
        previous = count;
        QTest::qWait(500);
    }
    *showing = count;
    QList<Fit> fits;
    for (const WindowTour::Window& window : windows)
        fits.append({ window.name, window.widget->size(), window.widget->sizeHint(),
            window.widget->minimumSizeHint() });
    return fits;
}

QString describe(const Fit& fit)
{
    const auto text = [](const QSize& size) {
        return QStringLiteral("%1x%2").arg(QString::number(size.width()), QString::number(size.height()));
    };
    return QStringLiteral("%1: size %2, hint %3, minimum %4")
        .arg(fit.window, text(fit.size), text(fit.hint), text(fit.minimum));
}

} // namespace

void TestDialogSizing::longNodeErrorsKeepEveryWindowsSize()
{
    // The same failures, once of an ordinary length and once far longer than any window is wide:
    // every window is fitted alike, asks for no more room, and shows the failure.
    const QString ordinary = QStringLiteral("upstream failure: the node could not answer this request in time, "
                                            "try again once it is back");
    int shortShowing = 0;
    int longShowing = 0;
    const QList<Fit> shortFits = fitsAfterFailures(ordinary, &shortShowing);
    const QList<Fit> longFits
        = fitsAfterFailures(ordinary + QStringLiteral(": ") + QString(2000, u'x'), &longShowing);
    QVERIFY(!shortFits.isEmpty());
    QCOMPARE(longFits.size(), shortFits.size());
    for (qsizetype index = 0; index < shortFits.size(); ++index)
        QVERIFY2(longFits.at(index) == shortFits.at(index),
            qPrintable(
                describe(shortFits.at(index)) + QStringLiteral(" became ") + describe(longFits.at(index))));
    QVERIFY2(longShowing >= 6, qPrintable(QString::number(longShowing)));
    QCOMPARE(longShowing, shortShowing);
    MainWindowFixture::deleteTopLevelDialogs();
}

QTEST_MAIN(TestDialogSizing)
#include "tst_dialogsizing.moc"
