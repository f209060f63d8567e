#include "configreplaceeditor.h"

#include "dialogsizing.h"

#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

ConfigReplaceEditor::ConfigReplaceEditor(const QJsonObject& config, const QSize& ownerSize, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Replace Kubo config"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* hint = new QLabel(
        QStringLiteral("Paste full config JSON. This will replace the entire Kubo config file."), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    editor = new QPlainTextEdit(this);
    editor->setObjectName(QStringLiteral("configEditor"));
    editor->setPlainText(QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Indented)));
    layout->addWidget(editor, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Replace"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/ConfigDialog/ReplaceEditor");
    sizing.minimumSize = QSize(520, 360);
    sizing.preferredSize
        = QSize(std::max(640, int(0.8 * ownerSize.width())), std::max(420, int(0.8 * ownerSize.height())));
    sizing.maxScreenWidthFraction = 0.8;
    sizing.maxScreenHeightFraction = 0.8;
    DialogSizing::attach(this, sizing);
}

QString ConfigReplaceEditor::text() const
{
    return editor->toPlainText();
}
