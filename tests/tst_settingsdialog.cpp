#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "appsettings.h"
#include "endpointinput.h"
#include "settingsdialog.h"

using namespace Qt::StringLiterals;

class TestSettingsDialog : public QObject
{
    Q_OBJECT

    static QLineEdit* hostEdit(SettingsDialog& d)
    {
        return d.findChild<QLineEdit*>(QStringLiteral("hostEdit"));
    }
    static QLineEdit* originEdit(SettingsDialog& d)
    {
        return d.findChild<QLineEdit*>(QStringLiteral("originEdit"));
    }
    static QSpinBox* portSpin(SettingsDialog& d)
    {
        return d.findChild<QSpinBox*>(QStringLiteral("portSpin"));
    }
    static QSpinBox* intervalSpin(SettingsDialog& d)
    {
        return d.findChild<QSpinBox*>(QStringLiteral("intervalSpin"));
    }
    static QCheckBox* check(SettingsDialog& d, const QString& text)
    {
        for (QCheckBox* box : d.findChildren<QCheckBox*>()) {
            if (box->text() == text)
                return box;
        }
        return nullptr;
    }
    static QPushButton* button(SettingsDialog& d, QDialogButtonBox::StandardButton which)
    {
        return d.findChild<QDialogButtonBox*>()->button(which);
    }
    static QPushButton* restoreButton(SettingsDialog& d)
    {
        for (QPushButton* b : d.findChildren<QPushButton*>()) {
            if (b->text() == QLatin1String("Restore Defaults"))
                return b;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
        appSettings().clear();
    }

    void freshFormShowsItsDefaults()
    {
        SettingsDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings — Vaxel"));
        QCOMPARE(hostEdit(dialog)->text(), QString());
        QCOMPARE(hostEdit(dialog)->placeholderText(), QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog.host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog.port(), quint16(5001));
        QCOMPARE(dialog.pinTypeFilter(), QStringLiteral("recursive+direct"));
        QCOMPARE(dialog.refreshIntervalSeconds(), 30);
        QCOMPARE(intervalSpin(dialog)->suffix(), QStringLiteral(" seconds"));
        QVERIFY(!intervalSpin(dialog)->isEnabled());
        QVERIFY(!dialog.autoRefresh());
        QVERIFY(dialog.loadMetadata());
        QVERIFY(!dialog.sendOrigin());
        QVERIFY(!originEdit(dialog)->isEnabled());
        QCOMPARE(originEdit(dialog)->maxLength(), 256);
        QCOMPARE(dialog.originValue(), QStringLiteral("Vaxel 1.1.4"));

        QComboBox* combo = dialog.findChild<QComboBox*>();
        QStringList texts;
        QStringList data;
        for (int i = 0; i < combo->count(); ++i) {
            texts << combo->itemText(i);
            data << combo->itemData(i).toString();
        }
        QCOMPARE(texts,
            (QStringList { QStringLiteral("Recursive+Direct"), QStringLiteral("All pins"),
                QStringLiteral("Recursive only"), QStringLiteral("Direct only"),
                QStringLiteral("Indirect only") }));
        QCOMPARE(data,
            (QStringList { QStringLiteral("recursive+direct"), QStringLiteral("all"),
                QStringLiteral("recursive"), QStringLiteral("direct"), QStringLiteral("indirect") }));
    }

    void settersAndGettersRoundTrip()
    {
        SettingsDialog dialog;
        dialog.setHost(QStringLiteral("  node.lan  "));
        dialog.setPort(5002);
        dialog.setPinTypeFilter(QStringLiteral("indirect"));
        dialog.setRefreshIntervalSeconds(2);
        dialog.setAutoRefresh(true);
        dialog.setLoadMetadata(false);
        dialog.setSendOrigin(true);
        dialog.setOriginValue(QStringLiteral("  http://127.0.0.1:5001  "));

        QCOMPARE(hostEdit(dialog)->text(), QStringLiteral("  node.lan  "));
        QCOMPARE(dialog.host(), QStringLiteral("node.lan"));
        QCOMPARE(dialog.port(), quint16(5002));
        QCOMPARE(dialog.pinTypeFilter(), QStringLiteral("indirect"));
        QCOMPARE(dialog.refreshIntervalSeconds(), 5);
        QVERIFY(dialog.autoRefresh());
        QVERIFY(intervalSpin(dialog)->isEnabled());
        QVERIFY(!dialog.loadMetadata());
        QVERIFY(dialog.sendOrigin());
        QVERIFY(originEdit(dialog)->isEnabled());
        QCOMPARE(dialog.originValue(), QStringLiteral("http://127.0.0.1:5001"));

        dialog.setPinTypeFilter(QStringLiteral("Recursive"));
        QCOMPARE(dialog.pinTypeFilter(), QStringLiteral("indirect"));
        dialog.setRefreshIntervalSeconds(100000);
        QCOMPARE(dialog.refreshIntervalSeconds(), 3600);
        dialog.setOriginValue(QStringLiteral("   "));
        QCOMPARE(originEdit(dialog)->text(), QStringLiteral("Vaxel 1.1.4"));
        originEdit(dialog)->setText(QStringLiteral("\r\n \n"));
        QCOMPARE(dialog.originValue(), QStringLiteral("Vaxel 1.1.4"));
        hostEdit(dialog)->setText(QStringLiteral("   "));
        QCOMPARE(dialog.host(), QStringLiteral("127.0.0.1"));
    }

    void checkBoxesEnableTheirFields()
    {
        SettingsDialog dialog;
        check(dialog, QStringLiteral("Enable auto-refresh"))->setChecked(true);
        QVERIFY(intervalSpin(dialog)->isEnabled());
        check(dialog, QStringLiteral("Enable auto-refresh"))->setChecked(false);
        QVERIFY(!intervalSpin(dialog)->isEnabled());

        originEdit(dialog)->clear();
        check(dialog, QStringLiteral("Send Origin header"))->setChecked(true);
        QVERIFY(originEdit(dialog)->isEnabled());
        QCOMPARE(originEdit(dialog)->text(), QStringLiteral("Vaxel 1.1.4"));
        originEdit(dialog)->setText(QStringLiteral("mine"));
        check(dialog, QStringLiteral("Send Origin header"))->setChecked(false);
        QVERIFY(!originEdit(dialog)->isEnabled());
        QCOMPARE(originEdit(dialog)->text(), QStringLiteral("mine"));
    }

    void restoreDefaultsThenCancelWritesNothing()
    {
        appSettings().clear();
        SettingsDialog dialog;
        dialog.setHost(QStringLiteral("node.lan"));
        dialog.setPort(6000);
        dialog.setPinTypeFilter(QStringLiteral("all"));
        dialog.setAutoRefresh(true);
        dialog.setSendOrigin(true);
        dialog.setOriginValue(QStringLiteral("custom"));

        bool restoredKeptOpen = false;
        QTimer::singleShot(0, &dialog, [&] {
            restoreButton(dialog)->click();
            restoredKeptOpen = dialog.isVisible();
            button(dialog, QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(restoredKeptOpen);
        QCOMPARE(hostEdit(dialog)->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog.port(), quint16(5001));
        QCOMPARE(dialog.pinTypeFilter(), QStringLiteral("recursive+direct"));
        QCOMPARE(dialog.refreshIntervalSeconds(), 30);
        QVERIFY(!dialog.autoRefresh());
        QVERIFY(!intervalSpin(dialog)->isEnabled());
        QVERIFY(dialog.loadMetadata());
        QVERIFY(!dialog.sendOrigin());
        QVERIFY(!originEdit(dialog)->isEnabled());
        QCOMPARE(originEdit(dialog)->text(), QStringLiteral("Vaxel 1.1.4"));
        // The form stores nothing of its own; only its geometry may be remembered.
        const QStringList keys = appSettings().allKeys();
        for (const QString& key : keys)
            QVERIFY2(key.startsWith(QLatin1String("Dialogs/SettingsDialog/")), qPrintable(key));
    }

    void endpointInput_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port"); // 0: the text names none
        QTest::addColumn<QString>("refusal"); // "", "port" or "other"
        const QString none;
        QTest::newRow("empty") << u"  "_s << none << 0 << none;
        QTest::newRow("address") << u" 127.0.0.1 "_s << u"127.0.0.1"_s << 0 << none;
        QTest::newRow("name") << u"node.lan"_s << u"node.lan"_s << 0 << none;
        QTest::newRow("IPv6") << u"::1"_s << u"::1"_s << 0 << none;
        QTest::newRow("IPv6 in brackets") << u"[::1]"_s << u"::1"_s << 0 << none;
        QTest::newRow("host and port") << u"127.0.0.1:5002"_s << u"127.0.0.1"_s << 5002 << none;
        QTest::newRow("IPv6 and port") << u"[::1]:5003"_s << u"::1"_s << 5003 << none;
        QTest::newRow("pasted URL") << u"http://127.0.0.1:5001/"_s << u"127.0.0.1"_s << 5001 << none;
        QTest::newRow("URL with a path")
            << u"HTTP://Node.LAN:5004/webui?x#y"_s << u"node.lan"_s << 5004 << none;
        QTest::newRow("URL of IPv6") << u"http://[::1]:5005/api/v0"_s << u"::1"_s << 5005 << none;
        QTest::newRow("URL without port") << u"http://localhost"_s << u"localhost"_s << 80 << none;
        QTest::newRow("scheme twice") << u"http://http://127.0.0.1:5001/"_s << none << 0 << u"other"_s;
        QTest::newRow("https") << u"https://127.0.0.1:5001"_s << none << 0 << u"other"_s;
        QTest::newRow("other scheme") << u"ftp://127.0.0.1"_s << none << 0 << u"other"_s;
        QTest::newRow("credentials") << u"http://user:pw@127.0.0.1:5001"_s << none << 0 << u"other"_s;
        QTest::newRow("blank inside") << u"my node"_s << none << 0 << u"other"_s;
        QTest::newRow("path without scheme") << u"127.0.0.1:5001/api"_s << none << 0 << u"other"_s;
        QTest::newRow("not IPv6") << u"12:34:zz"_s << none << 0 << u"other"_s;
        QTest::newRow("empty URL host") << u"http://:5001"_s << none << 0 << u"other"_s;
        QTest::newRow("port 0") << u"127.0.0.1:0"_s << none << 0 << u"port"_s;
        QTest::newRow("port 99999") << u"127.0.0.1:99999"_s << none << 0 << u"port"_s;
        QTest::newRow("URL port 99999") << u"http://127.0.0.1:99999/"_s << none << 0 << u"port"_s;
        QTest::newRow("port not a number") << u"127.0.0.1:abc"_s << none << 0 << u"port"_s;
        QTest::newRow("empty port") << u"127.0.0.1:"_s << none << 0 << u"port"_s;
    }

    void endpointInput()
    {
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        const EndpointInput input = parseEndpointInput(text);
        if (refusal.isEmpty())
            QVERIFY2(input.error.isEmpty(), qPrintable(input.error));
        else if (refusal == QLatin1String("port"))
            QCOMPARE(input.error, endpointPortError());
        else
            QVERIFY(!input.error.isEmpty() && input.error != endpointPortError());
        QTEST(input.host, "host");
        QTEST(input.port, "port");
    }

    // Typed as a user types, then OK clicked with the mouse (which takes the focus from the fields).
    void okTakesOrRefusesTheTypedEndpoint_data()
    {
        QTest::addColumn<QString>("hostText");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("shownPort"); // as the port field reads after OK
        QTest::newRow("plain") << u"127.0.0.1"_s << u"5002"_s << true << u"127.0.0.1"_s << u"5002"_s;
        QTest::newRow("pasted URL") << u"http://127.0.0.1:5001/"_s << u"6000"_s << true << u"127.0.0.1"_s
                                    << u"5001"_s;
        QTest::newRow("scheme twice")
            << u"http://http://127.0.0.1:5001/"_s << u"6000"_s << false << QString() << u"6000"_s;
        QTest::newRow("port 0") << u"127.0.0.1"_s << u"0"_s << false << QString() << u"0"_s;
        QTest::newRow("port 99999") << u"127.0.0.1"_s << u"99999"_s << false << QString() << u"99999"_s;
    }

    void okTakesOrRefusesTheTypedEndpoint()
    {
        QFETCH(QString, hostText);
        QFETCH(QString, portText);
        QFETCH(bool, accepted);
        SettingsDialog dialog;
        dialog.setPort(4000);
        bool openAfterOk = false;
        QString shownPort;
        QString shownError;
        QTimer::singleShot(0, &dialog, [&] {
            hostEdit(dialog)->setFocus();
            QTest::keyClicks(hostEdit(dialog), hostText);
            portSpin(dialog)->setFocus();
            portSpin(dialog)->selectAll();
            QTest::keyClicks(portSpin(dialog), portText);
            QTest::mouseClick(button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
            openAfterOk = dialog.isVisible();
            shownPort = portSpin(dialog)->text();
            auto* error = dialog.findChild<QLabel*>(QStringLiteral("endpointErrorLabel"));
            shownError = error && error->isVisibleTo(&dialog) ? error->text() : QString();
            if (openAfterOk)
                button(dialog, QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(dialog.exec() == QDialog::Accepted, accepted);
        QCOMPARE(openAfterOk, !accepted);
        QTEST(shownPort, "shownPort");
        QCOMPARE(shownError.isEmpty(), accepted);
        if (accepted) {
            QTEST(dialog.host(), "host");
            QTEST(hostEdit(dialog)->text(), "host");
            QTEST(QString::number(dialog.port()), "shownPort");
        }
    }

    void portArrowsStayWithinValidPorts()
    {
        SettingsDialog dialog;
        dialog.setPort(65535);
        portSpin(dialog)->stepUp();
        QCOMPARE(dialog.port(), quint16(65535));
        dialog.setPort(1);
        portSpin(dialog)->stepDown();
        QCOMPARE(dialog.port(), quint16(1));
    }

    void okAcceptsWithoutWritingSettings()
    {
        appSettings().clear();
        SettingsDialog dialog;
        dialog.setSendOrigin(true);
        QTimer::singleShot(0, &dialog, [&] { button(dialog, QDialogButtonBox::Ok)->click(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(dialog.sendOrigin());
        QVERIFY(!appSettings().contains(QStringLiteral("http/sendOrigin")));
        QVERIFY(!appSettings().contains(QStringLiteral("host")));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
