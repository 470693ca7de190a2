#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

class QMimeData;
class Settings;

// The floating panel: a frameless tool window that stays on top, has no
// taskbar entry and is never closed, only hidden. It hides on Escape and when
// another application's window takes the focus, remembers its size, and takes
// files dropped on it.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit PanelWindow(Settings* settings, QWidget* parent = nullptr);
    ~PanelWindow() override;

    void setContent(QWidget* content);

Q_SIGNALS:
    void filesDropped(const QList<QUrl>& urls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static QList<QUrl> fileUrls(const QMimeData* mime);

    Settings* m_settings;
};
