#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "appsettings.h"
#include "settingsdialog.h"

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
