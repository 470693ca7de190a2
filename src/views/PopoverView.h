#pragma once

#include <QPointer>
#include <QWidget>

class DesktopServices;
class EmpfangenTabView;
class QButtonGroup;
class QLabel;
class QPushButton;
class QStackedWidget;
class SendenTabView;
class SettingsView;
class TransferManager;
class UpdaterManager;
class UserDefaults;

// The root of the panel: the header with the settings switch, then either the settings page or
// the "Senden"/"Empfangen" tabs, and the footer with the quit button and the version line. Which
// page and tab show lives in the manager, so the panel reopens where the user left it.
class PopoverView : public QWidget {
    Q_OBJECT

public:
    PopoverView(TransferManager* manager, DesktopServices* desktop, UserDefaults* defaults,
                UpdaterManager* updater, QWidget* parent = nullptr);

    SendenTabView* sendTab() const { return m_sendTab; }
    EmpfangenTabView* receiveTab() const { return m_receiveTab; }
    SettingsView* settingsPage() const { return m_settings; }

private:
    QWidget* buildHeader();
    QWidget* buildFooter();
    QWidget* buildPicker();
    void updatePage();
    void updateTab();

    QPointer<TransferManager> m_manager;
    QStackedWidget* m_pages;
    QWidget* m_tabsPage;
    QStackedWidget* m_tabs;
    QButtonGroup* m_picker;
    SendenTabView* m_sendTab;
    EmpfangenTabView* m_receiveTab;
    SettingsView* m_settings;
};
