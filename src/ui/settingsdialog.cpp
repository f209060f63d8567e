#include "settingsdialog.h"

#include "appsettings.h"
#include "dialogsizing.h"
#include "endpointinput.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr QLatin1String kDefaultHost("127.0.0.1");
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// Shows a typed port as typed, 0 and 99999 included, so that a port that cannot work is refused
// with a message instead of being kept or cut silently; the arrows stay within the valid ports.
class PortSpinBox : public QSpinBox
{
public:
    explicit PortSpinBox(QWidget* parent)
        : QSpinBox(parent)
    {
        setRange(0, 999999);
    }

    void stepBy(int steps) override { setValue(std::clamp(value() + steps, kMinPort, kMaxPort)); }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() < kMaxPort)
            enabled |= StepUpEnabled;
        if (value() > kMinPort)
            enabled |= StepDownEnabled;
        return enabled;
    }
};

} // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings — Vaxel"));

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/SettingsDialog");
    sizing.minimumSize = QSize(380, 320);
    sizing.preferredSize = QSize(560, 560);
    sizing.maxScreenWidthFraction = 0.6;
    sizing.maxScreenHeightFraction = 0.85;
    DialogSizing::attach(this, sizing);

    setupUi();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::setupUi()
{
    hostEdit = new QLineEdit(this);
    hostEdit->setPlaceholderText(kDefaultHost);
    portSpin = new PortSpinBox(this);
    portSpin->setValue(5001);
    endpointErrorLabel = new QLabel(this);
    endpointErrorLabel->setObjectName(QStringLiteral("endpointErrorLabel"));
    endpointErrorLabel->setTextFormat(Qt::PlainText);
    endpointErrorLabel->setWordWrap(true);
    endpointErrorLabel->hide();
    pinTypeCombo = new QComboBox(this);
    pinTypeCombo->addItem(QStringLiteral("Recursive+Direct"), QStringLiteral("recursive+direct"));
    pinTypeCombo->addItem(QStringLiteral("All pins"), QStringLiteral("all"));
    pinTypeCombo->addItem(QStringLiteral("Recursive only"), QStringLiteral("recursive"));
    pinTypeCombo->addItem(QStringLiteral("Direct only"), QStringLiteral("direct"));
    pinTypeCombo->addItem(QStringLiteral("Indirect only"), QStringLiteral("indirect"));
    intervalSpin = new QSpinBox(this);
    intervalSpin->setRange(5, 3600);
    intervalSpin->setValue(30);
    intervalSpin->setSuffix(QStringLiteral(" seconds"));
    intervalSpin->setEnabled(false);
    autoRefreshCheck = new QCheckBox(QStringLiteral("Enable auto-refresh"), this);
    loadMetadataCheck = new QCheckBox(QStringLiteral("Load metadata"), this);
    loadMetadataCheck->setChecked(true);
    sendOriginCheck = new QCheckBox(QStringLiteral("Send Origin header"), this);
    originEdit = new QLineEdit(this);
    originEdit->setPlaceholderText(defaultHttpOriginValue());
    originEdit->setText(defaultHttpOriginValue());
    originEdit->setMaxLength(256);
    originEdit->setEnabled(false);

    // Named after their members, so tests and style sheets can find them.
    hostEdit->setObjectName(QStringLiteral("hostEdit"));
    portSpin->setObjectName(QStringLiteral("portSpin"));
    pinTypeCombo->setObjectName(QStringLiteral("pinTypeCombo"));
    intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    autoRefreshCheck->setObjectName(QStringLiteral("autoRefreshCheck"));
    loadMetadataCheck->setObjectName(QStringLiteral("loadMetadataCheck"));
    sendOriginCheck->setObjectName(QStringLiteral("sendOriginCheck"));
    originEdit->setObjectName(QStringLiteral("originEdit"));

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);

    auto* connectionGroup = new QGroupBox(QStringLiteral("Kubo RPC Connection"), this);
    auto* connectionForm = new QFormLayout(connectionGroup);
    connectionForm->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    connectionForm->addRow(QStringLiteral("Host:"), hostEdit);
    connectionForm->addRow(QStringLiteral("Port:"), portSpin);
    connectionForm->addRow(endpointErrorLabel);
    auto* warning
        = new QLabel(QStringLiteral("<small><i>Default Kubo RPC port is 5001. Never expose this port to "
                                    "the public internet.</i></small>"),
            connectionGroup);
    warning->setTextFormat(Qt::RichText);
    warning->setWordWrap(true);
    connectionForm->addRow(warning);
    layout->addWidget(connectionGroup);

    auto* filterGroup = new QGroupBox(QStringLiteral("Default pin filtering"), this);
    auto* filterForm = new QFormLayout(filterGroup);
    filterForm->addRow(QStringLiteral("Pin type:"), pinTypeCombo);
    layout->addWidget(filterGroup);

    auto* optionsGroup = new QGroupBox(QStringLiteral("Options"), this);
    auto* optionsForm = new QFormLayout(optionsGroup);
    optionsForm->addRow(autoRefreshCheck);
    optionsForm->addRow(QStringLiteral("Interval:"), intervalSpin);
    optionsForm->addRow(loadMetadataCheck);
    optionsForm->addRow(sendOriginCheck);
    optionsForm->addRow(QStringLiteral("Origin:"), originEdit);
    layout->addWidget(optionsGroup);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* restore
        = buttons->addButton(QStringLiteral("Restore Defaults"), QDialogButtonBox::ResetRole);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::acceptIfValid);
    connect(hostEdit, &QLineEdit::editingFinished, this, &SettingsDialog::applyHostText);
    connect(hostEdit, &QLineEdit::textEdited, endpointErrorLabel, &QWidget::hide);
    connect(portSpin, &QSpinBox::valueChanged, endpointErrorLabel, &QWidget::hide);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(restore, &QPushButton::clicked, this, &SettingsDialog::restoreDefaults);
    connect(autoRefreshCheck, &QCheckBox::toggled, intervalSpin, &QWidget::setEnabled);
    connect(sendOriginCheck, &QCheckBox::toggled, this, [this](bool checked) {
        originEdit->setEnabled(checked);
        if (checked && originEdit->text().trimmed().isEmpty())
            originEdit->setText(defaultHttpOriginValue());
    });
}

bool SettingsDialog::applyHostText()
{
    const EndpointInput input = parseEndpointInput(hostEdit->text());
    if (!input.error.isEmpty()) {
        showEndpointError(input.error);
        return false;
    }
    if (!input.host.isEmpty() && input.host != hostEdit->text())
        hostEdit->setText(input.host);
    if (input.port != 0)
        portSpin->setValue(input.port);
    return true;
}

void SettingsDialog::acceptIfValid()
{
    if (!applyHostText())
        return;
    if (portSpin->value() < kMinPort || portSpin->value() > kMaxPort) {
        showEndpointError(endpointPortError());
        return;
    }
    accept();
}

void SettingsDialog::showEndpointError(const QString& message)
{
    endpointErrorLabel->setText(message);
    endpointErrorLabel->show();
}

QString SettingsDialog::host() const
{
    const EndpointInput input = parseEndpointInput(hostEdit->text());
    if (!input.host.isEmpty())
        return input.host;
    const QString text = hostEdit->text().trimmed();
    return text.isEmpty() ? kDefaultHost : text;
}

quint16 SettingsDialog::port() const
{
    return quint16(portSpin->value());
}

QString SettingsDialog::pinTypeFilter() const
{
    return pinTypeCombo->currentData().toString();
}

int SettingsDialog::refreshIntervalSeconds() const
{
    return intervalSpin->value();
}

bool SettingsDialog::autoRefresh() const
{
    return autoRefreshCheck->isChecked();
}

bool SettingsDialog::loadMetadata() const
{
    return loadMetadataCheck->isChecked();
}

bool SettingsDialog::sendOrigin() const
{
    return sendOriginCheck->isChecked();
}

QString SettingsDialog::originValue() const
{
    const QString value = sanitizeOriginHeaderValue(originEdit->text());
    return value.isEmpty() ? defaultHttpOriginValue() : value;
}

void SettingsDialog::setHost(const QString& host)
{
    hostEdit->setText(host);
}

void SettingsDialog::setPort(quint16 port)
{
    portSpin->setValue(port);
}

void SettingsDialog::setPinTypeFilter(const QString& filter)
{
    const int index = pinTypeCombo->findData(filter, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        pinTypeCombo->setCurrentIndex(index);
}

void SettingsDialog::setRefreshIntervalSeconds(int seconds)
{
    intervalSpin->setValue(seconds);
}

void SettingsDialog::setAutoRefresh(bool on)
{
    autoRefreshCheck->setChecked(on);
    intervalSpin->setEnabled(on);
}

void SettingsDialog::setLoadMetadata(bool on)
{
    loadMetadataCheck->setChecked(on);
}

void SettingsDialog::setSendOrigin(bool on)
{
    sendOriginCheck->setChecked(on);
    originEdit->setEnabled(on);
}

void SettingsDialog::setOriginValue(const QString& value)
{
    const QString trimmed = value.trimmed();
    originEdit->setText(trimmed.isEmpty() ? defaultHttpOriginValue() : trimmed);
}

void SettingsDialog::restoreDefaults()
{
    hostEdit->setText(kDefaultHost);
    portSpin->setValue(5001);
    pinTypeCombo->setCurrentIndex(0);
    intervalSpin->setValue(30);
    autoRefreshCheck->setChecked(false);
    loadMetadataCheck->setChecked(true);
    sendOriginCheck->setChecked(false);
    originEdit->setText(defaultHttpOriginValue());
    originEdit->setEnabled(false);
}
