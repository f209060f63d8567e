#include "splitactionbutton.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>

SplitActionButton::SplitActionButton(const QString& text, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    primaryButton = new QPushButton(text, this);
    primaryButton->setObjectName(QStringLiteral("actionBtn"));
    primaryButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    primaryButton->setCursor(Qt::PointingHandCursor);
    primaryButton->setMinimumHeight(28);
    connect(primaryButton, &QPushButton::clicked, this, &SplitActionButton::primaryClicked);
    layout->addWidget(primaryButton);

    secondaryButton = new QPushButton(this);
    secondaryButton->setObjectName(QStringLiteral("actionBtnSecondary"));
    secondaryButton->setFixedWidth(28);
    secondaryButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    secondaryButton->setCursor(Qt::PointingHandCursor);
    secondaryButton->setMinimumHeight(28);
    const QIcon newWindowIcon = QIcon::fromTheme(QStringLiteral("window-new"));
    if (newWindowIcon.isNull())
        secondaryButton->setText(QStringLiteral("\u2197"));
    else
        secondaryButton->setIcon(newWindowIcon);
    connect(secondaryButton, &QPushButton::clicked, this, &SplitActionButton::secondaryClicked);
    layout->addWidget(secondaryButton);

    setStyleSheet(QStringLiteral(
        "QPushButton#actionBtnSecondary {  padding-left: 5px;  padding-right: 5px;  font-weight: 600;}"));
}

void SplitActionButton::setPrimaryToolTip(const QString& toolTip)
{
    if (primaryButton)
        primaryButton->setToolTip(toolTip);
}

void SplitActionButton::setSecondaryToolTip(const QString& toolTip)
{
    if (secondaryButton)
        secondaryButton->setToolTip(toolTip);
}
