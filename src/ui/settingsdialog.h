#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The application settings form. It reads and writes no settings itself: the main window fills
// it, runs it and takes the values back when it is accepted.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    QString host() const;
    quint16 port() const;
    QString pinTypeFilter() const;
    int refreshIntervalSeconds() const;
    bool autoRefresh() const;
    bool loadMetadata() const;
    bool sendOrigin() const;
    QString originValue() const;

    void setHost(const QString& host);
    void setPort(quint16 port);
    void setPinTypeFilter(const QString& filter);
    void setRefreshIntervalSeconds(int seconds);
    void setAutoRefresh(bool on);
    void setLoadMetadata(bool on);
    void setSendOrigin(bool on);
    void setOriginValue(const QString& value);

    void restoreDefaults();

private:
    void setupUi();
    // Takes host and port from a pasted address; false, with the reason shown, when it cannot work.
    bool applyHostText();
    void acceptIfValid();
    void showEndpointError(const QString& message);

    QLineEdit* hostEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QComboBox* pinTypeCombo = nullptr;
    QSpinBox* intervalSpin = nullptr;
    QCheckBox* autoRefreshCheck = nullptr;
    QCheckBox* loadMetadataCheck = nullptr;
    QCheckBox* sendOriginCheck = nullptr;
    QLineEdit* originEdit = nullptr;
    QLabel* endpointErrorLabel = nullptr;
};
