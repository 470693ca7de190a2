#include "views/PanelView.h"

#include "transfers/ClientSession.h"
#include "views/BuildInfo.h"
#include "views/ReceiveTab.h"
#include "views/SendTab.h"
#include "views/SettingsPage.h"
#include "views/Style.h"
#include "views/TabSegment.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

PanelView::PanelView(ClientSession* session, UpdaterManager* updater, QWidget* parent)
    : QWidget(parent), m_session(session) {
    Q_ASSERT(session);
    setAccessibleName(QStringLiteral("Zanvolt"));
    setMinimumWidth(320);
    setMaximumWidth(700);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(Style::divider());

    m_tabsPage = new QWidget;
    auto* tabsLayout = new QVBoxLayout(m_tabsPage);
    tabsLayout->setContentsMargins(0, 0, 0, 0);
    tabsLayout->setSpacing(0);
    tabsLayout->addWidget(buildPicker());
    m_tabs = new QStackedWidget;
    m_sendTab = new SendTab(session->uploads(), session->sent(), session->sentOperations());
    m_tabs->addWidget(m_sendTab);
    m_receiveTab = new ReceiveTab(session->received());
    connect(m_receiveTab, &ReceiveTab::settingsRequested, session,
            [session] { session->setShowSettings(true); });
    m_tabs->addWidget(m_receiveTab);
    tabsLayout->addWidget(m_tabs, 1);

    m_settings = new SettingsPage(session, updater);

    m_pages = new QStackedWidget;
    m_pages->addWidget(m_tabsPage);
    m_pages->addWidget(m_settings);
    layout->addWidget(m_pages, 1);
    layout->addWidget(Style::divider());
    layout->addWidget(buildFooter());

    connect(session, &ClientSession::showSettingsChanged, this, &PanelView::updatePage);
    connect(session, &ClientSession::selectedTabChanged, this, &PanelView::updateTab);
    updatePage();
    updateTab();
}

QWidget* PanelView::buildHeader() {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 12, 16, 12);
    auto* icon = new QLabel;
    icon->setPixmap(Style::icon(QStringLiteral("document-send-filled"), Style::accent()).pixmap(18, 18));
    row->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("Zanvolt"));
    Style::setFont(title, Style::Text::Strong);
    title->setAccessibleName(title->text());
    row->addWidget(title);
    row->addStretch(1);

    auto* gear = new QToolButton;
    gear->setObjectName(QStringLiteral("settingsButton"));
    gear->setAutoRaise(true);
    gear->setFocusPolicy(Qt::TabFocus);
    gear->setIcon(Style::icon(QStringLiteral("preferences-system"), Style::secondary()));
    gear->setIconSize(QSize(18, 18));
    gear->setToolTip(QCoreApplication::translate("PanelView", "Einstellungen"));
    gear->setAccessibleName(QCoreApplication::translate("PanelView", "Einstellungen"));
    connect(gear, &QToolButton::clicked, this,
            [this] { m_session->setShowSettings(!m_session->showSettings()); });
    row->addWidget(gear);
    return header;
}

QWidget* PanelView::buildPicker() {
    auto* picker = new QWidget;
    picker->setObjectName(QStringLiteral("tabPicker"));
    auto* row = new QHBoxLayout(picker);
    row->setContentsMargins(16, 8, 16, 0);
    row->setSpacing(0);
    m_picker = new QButtonGroup(this);
    m_picker->setExclusive(true);
    const QString border = Style::css(Style::faded(Style::secondary(), 0.5));
    const QString checked = Style::css(Style::faded(Style::secondary(), 0.25));
    const QStringList names{QCoreApplication::translate("PanelView", "Senden"),
                            QCoreApplication::translate("PanelView", "Empfangen")};
    for (int tag = 0; tag < int(names.size()); ++tag) {
        auto* segment = new TabSegment(names[tag]);
        const QString corners = tag == 0
                                    ? QStringLiteral("border-top-left-radius: 5px; "
                                                     "border-bottom-left-radius: 5px;")
                                    : QStringLiteral("border-top-right-radius: 5px; "
                                                     "border-bottom-right-radius: 5px; border-left: none;");
        segment->setStyleSheet(QStringLiteral("QPushButton { border: 1px solid %1; %2 padding: 3px 8px; "
                                              "background: transparent; } "
                                              "QPushButton:checked { background: %3; }")
                                   .arg(border, corners, checked));
        m_picker->addButton(segment, tag);
        row->addWidget(segment, 1);
    }
    connect(m_picker, &QButtonGroup::idClicked, this, [this](int tag) { m_session->setSelectedTab(tag); });
    return picker;
}

QWidget* PanelView::buildFooter() {
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 8, 16, 8);

    auto* quit = new QToolButton;
    quit->setObjectName(QStringLiteral("quitButton"));
    quit->setAutoRaise(true);
    quit->setFocusPolicy(Qt::TabFocus);
    quit->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    quit->setIcon(Style::icon(QStringLiteral("system-shutdown"), Style::secondary()));
    quit->setIconSize(QSize(12, 12));
    quit->setText(QCoreApplication::translate("PanelView", "Zanvolt beenden"));
    quit->setAccessibleName(quit->text());
    Style::setFont(quit, Style::Text::Caption);
    Style::setTextColor(quit, Style::secondary());
    connect(quit, &QToolButton::clicked, qApp, &QCoreApplication::quit);
    row->addWidget(quit);
    row->addStretch(1);

    auto* version = new QLabel(QStringLiteral("v") + BuildInfo::version() + QStringLiteral(" \u2022 ") +
                               BuildInfo::buildDate());
    version->setObjectName(QStringLiteral("footerVersion"));
    version->setAccessibleName(version->text());
    Style::setFont(version, Style::Text::Fine);
    Style::setTextColor(version, Style::secondary());
    row->addWidget(version);
    return footer;
}

void PanelView::updatePage() {
    const bool settings = m_session->showSettings();
    if (settings && m_pages->currentWidget() != m_settings)
        m_settings->loadWhenShown();
    m_pages->setCurrentWidget(settings ? m_settings : m_tabsPage);
}

void PanelView::updateTab() {
    const int tab = m_session->selectedTab();
    m_tabs->setCurrentWidget(tab == 0 ? static_cast<QWidget*>(m_sendTab) : m_receiveTab);
    if (QAbstractButton* segment = m_picker->button(tab)) {
        segment->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; to show none it must let go for a moment.
    m_picker->setExclusive(false);
    for (QAbstractButton* segment : m_picker->buttons())
        segment->setChecked(false);
    m_picker->setExclusive(true);
}
