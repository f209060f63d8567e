#include <QtTest>

#include <QApplication>
#include <QCommandLineParser>
#include <QProcess>
#include <QPushButton>
#include <QStyle>

#include "applicationsetup.h"

// Identity, command line and look of the application at start-up.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void identity()
    {
        setApplicationIdentity();
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Vaxel"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.1.4"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Vaxel"));
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(!QApplication::windowIcon().pixmap(64, 64).isNull());
    }

    void commandLineHasOnlyHelpAndVersion()
    {
        QCommandLineParser parser;
        configureCommandLine(parser);
        QCOMPARE(parser.applicationDescription(), QStringLiteral("Vaxel - IPFS pin management GUI"));
        QVERIFY(parser.parse({ QStringLiteral("vaxel"), QStringLiteral("--version") }));
        QVERIFY(parser.isSet(QStringLiteral("version")));
        QVERIFY(!parser.parse({ QStringLiteral("vaxel"), QStringLiteral("--host") }));
    }

    void executable_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("version") << QStringList { QStringLiteral("--version") } << 0
                                 << QStringLiteral("Vaxel 1.1.4\n");
        QTest::newRow("help") << QStringList { QStringLiteral("--help") } << 0
                              << QStringLiteral("Vaxel - IPFS pin management GUI");
        QTest::newRow("unknown option") << QStringList { QStringLiteral("--no-such-option") } << 1
                                        << QStringLiteral("Unknown option 'no-such-option'");
    }

    void executable()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VAXEL_EXECUTABLE), arguments);
        QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QString standardOutput = QString::fromUtf8(process.readAllStandardOutput());
        const QString printed = standardOutput + QString::fromUtf8(process.readAllStandardError());
        if (arguments.first() == u"--version")
            QCOMPARE(standardOutput, output);
        else
            QVERIFY2(printed.contains(output), qPrintable(printed));
    }

    void darkPaletteColours_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const int all = QPalette::Active;
        QTest::newRow("window") << all << int(QPalette::Window) << QColor(53, 53, 53);
        QTest::newRow("window text") << all << int(QPalette::WindowText) << QColor(Qt::white);
        QTest::newRow("base") << all << int(QPalette::Base) << QColor(25, 25, 25);
        QTest::newRow("alternate base") << all << int(QPalette::AlternateBase) << QColor(53, 53, 53);
        QTest::newRow("tool tip base") << all << int(QPalette::ToolTipBase) << QColor(Qt::white);
        QTest::newRow("tool tip text is readable") << all << int(QPalette::ToolTipText) << QColor(Qt::black);
        QTest::newRow("text") << all << int(QPalette::Text) << QColor(Qt::white);
        QTest::newRow("button") << all << int(QPalette::Button) << QColor(53, 53, 53);
        QTest::newRow("button text") << all << int(QPalette::ButtonText) << QColor(Qt::white);
        QTest::newRow("bright text") << all << int(QPalette::BrightText) << QColor(Qt::red);
        QTest::newRow("link") << all << int(QPalette::Link) << QColor(42, 130, 218);
        QTest::newRow("highlight") << all << int(QPalette::Highlight) << QColor(42, 130, 218);
        QTest::newRow("highlighted text") << all << int(QPalette::HighlightedText) << QColor(Qt::black);
        QTest::newRow("inactive text") << int(QPalette::Inactive) << int(QPalette::Text) << QColor(Qt::white);
        QTest::newRow("disabled text")
            << int(QPalette::Disabled) << int(QPalette::Text) << QColor(127, 127, 127);
        QTest::newRow("disabled window text")
            << int(QPalette::Disabled) << int(QPalette::WindowText) << QColor(127, 127, 127);
        QTest::newRow("disabled button text")
            << int(QPalette::Disabled) << int(QPalette::ButtonText) << QColor(127, 127, 127);
        QTest::newRow("disabled tool tip base")
            << int(QPalette::Disabled) << int(QPalette::ToolTipBase) << QColor(Qt::white);
    }

    void darkPaletteColours()
    {
        QFETCH(int, group);
        QFETCH(int, role);
        QFETCH(QColor, colour);
        const QPalette palette = darkPalette();
        const QBrush brush = palette.brush(QPalette::ColorGroup(group), QPalette::ColorRole(role));
        QCOMPARE(brush.color(), colour);
        QCOMPARE(brush.style(), Qt::SolidPattern);
        QCOMPARE(brush.color().alpha(), 255);
    }

    // Runs before the Fusion case: once applied, the dark look stays for the process.
    void withoutTheStyleNothingChanges()
    {
        const QString styleBefore = QApplication::style()->name();
        const QColor windowBefore = QApplication::palette().color(QPalette::Window);
        QVERIFY(!applyDarkLook(QStringLiteral("NoSuchStyle")));
        QCOMPARE(QApplication::style()->name(), styleBefore);
        QCOMPARE(QApplication::palette().color(QPalette::Window), windowBefore);
    }

    void fusionGetsTheDarkPalette()
    {
        QVERIFY(applyDarkLook(QStringLiteral("Fusion")));
        QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
        QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(53, 53, 53));
        QPushButton enabled(QStringLiteral("On"));
        QPushButton disabled(QStringLiteral("Off"));
        disabled.setEnabled(false);
        QCOMPARE(enabled.palette().color(enabled.foregroundRole()), QColor(Qt::white));
        QCOMPARE(
            disabled.palette().color(QPalette::Disabled, disabled.foregroundRole()), QColor(127, 127, 127));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
