#include "views/RefreshFooter.h"

#include "views/Style.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QToolButton>

RefreshFooter::RefreshFooter(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 6, 0, 6);
    row->addStretch(1);
    auto* refresh = new QToolButton;
    refresh->setObjectName(QStringLiteral("refreshButton"));
    refresh->setAutoRaise(true);
    refresh->setIcon(Style::icon(QStringLiteral("view-refresh"), Style::secondary()));
    refresh->setIconSize(QSize(11, 11));
    refresh->setText(QCoreApplication::translate("RefreshFooter", "Aktualisieren"));
    refresh->setAccessibleName(refresh->text());
    refresh->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Style::setFont(refresh, Style::Text::Fine);
    Style::setTextColor(refresh, Style::secondary());
    connect(refresh, &QToolButton::clicked, this, &RefreshFooter::refreshRequested);
    row->addWidget(refresh);
    row->addStretch(1);
}
