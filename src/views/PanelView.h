#pragma once

#include <QPointer>
#include <QWidget>

class ReceiveTab;
class QButtonGroup;
class QLabel;
class QPushButton;
class QStackedWidget;
class SendTab;
class SettingsPage;
class ClientSession;
class UpdaterManager;

// The root of the panel: the header with the settings switch, then either the settings page or
// the "Senden"/"Empfangen" tabs, and the footer with the quit button and the version line. Which
// page and tab show lives in the session, so the panel reopens where the user left it.
class PanelView : public QWidget {
    Q_OBJECT

public:
    PanelView(ClientSession* session, UpdaterManager* updater, QWidget* parent = nullptr);

    SendTab* sendTab() const { return m_sendTab; }
    ReceiveTab* receiveTab() const { return m_receiveTab; }
    SettingsPage* settingsPage() const { return m_settings; }

private:
    QWidget* buildHeader();
    QWidget* buildFooter();
    QWidget* buildPicker();
    void updatePage();
    void updateTab();

    ClientSession* m_session;
    QStackedWidget* m_pages;
    QWidget* m_tabsPage;
    QStackedWidget* m_tabs;
    QButtonGroup* m_picker;
    SendTab* m_sendTab;
    ReceiveTab* m_receiveTab;
    SettingsPage* m_settings;
};
