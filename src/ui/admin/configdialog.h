#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QJsonValue>

class IpfsClient;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Reads and edits the node's configuration: the whole config as a tree, single keys, the whole
// config replaced from a text editor, an in-memory backup and presets of common changes.
class ConfigDialog : public QDialog
{
    Q_OBJECT

public:
    ConfigDialog(IpfsClient* client, QWidget* parent = nullptr);

signals:
    void statusMessageRequested(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onExpandCollapseClicked();
    void onRefreshClicked();
    void onGetKeyClicked();
    void onSetKeyClicked();
    void onReplaceConfigClicked();
    void onRestoreBackupClicked();
    void onApplyPresetClicked();
    void onSavePresetClicked();
    void onDeletePresetClicked();
    void onImportPresetsClicked();
    void onExportPresetsClicked();

    void onConfigReceived(const QJsonObject& config);
    void onConfigKeyReceived(const QString& key, const QJsonValue& value);
    void onConfigKeySet(const QString& key, const QJsonValue& value);
    void onConfigReplaceSucceeded();
    void onError(const QString& message);

private:
    void buildLayout();
    void connectSignals();
    void setLoading(bool loading);
    void showSuccess(const QString& text);
    void takeBackupIfNeeded();
    // A Yes/No warning (or question) with No the default; false also when the dialog died meanwhile.
    enum class AskAs { Warning, Question };
    bool confirm(const QString& title, const QString& text, AskAs kind = AskAs::Warning);

    // Tree.
    void populateTreeFromJson(QTreeWidgetItem* parent, const QString& key, const QJsonValue& value);
    // Whether the branches count as expanded: the first key's state when it has children,
    // else the stored setting.
    bool treeShownExpanded() const;
    void updateExpandCollapseButtonText();
    void setTreeExpanded(bool expanded);
    void clearTree();

    // Presets.
    void rebuildPresetCombo(const QString& preferredName);

    IpfsClient* client = nullptr;
    QTreeWidget* configTree = nullptr;
    QPushButton* expandCollapseBtn = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* getButton = nullptr;
    QPushButton* setButton = nullptr;
    QPushButton* replaceButton = nullptr;
    QPushButton* restoreBackupButton = nullptr;
    QLabel* statusLabel = nullptr;
    QLineEdit* keyEdit = nullptr;
    QLineEdit* valueEdit = nullptr;
    QComboBox* modeCombo = nullptr;
    QComboBox* presetCombo = nullptr;
    QPushButton* applyPresetButton = nullptr;
    QPushButton* savePresetButton = nullptr;
    QPushButton* deletePresetButton = nullptr;
    QPushButton* importPresetsButton = nullptr;
    QPushButton* exportPresetsButton = nullptr;
    QJsonObject currentConfig;
    QJsonObject backupConfig;
    bool hasBackup = false;
};
