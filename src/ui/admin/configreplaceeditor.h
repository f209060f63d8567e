#pragma once

#include <QDialog>

class QJsonObject;
class QPlainTextEdit;

// The modal editor in which the user edits the whole config before it replaces the node's.
class ConfigReplaceEditor : public QDialog
{
    Q_OBJECT

public:
    // ownerSize: the config window's size, from which the editor's preferred size follows.
    ConfigReplaceEditor(const QJsonObject& config, const QSize& ownerSize, QWidget* parent);

    QString text() const;

private:
    QPlainTextEdit* editor = nullptr;
};
