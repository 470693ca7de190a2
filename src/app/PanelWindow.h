#pragma once

#include <QList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>

class QMimeData;
class Settings;

// The floating panel: a frameless tool window that stays on top, has no
// taskbar entry and is never closed, only hidden. It hides on Escape and when
// another application's window takes the focus, remembers its size, and takes
// files dropped on it.
//
// Dragging files from a file manager starts with a press in that window, which
// takes the focus: so a deactivation only hides the panel once no mouse button
// is held anywhere and a short grace has passed without a drag entering it.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit PanelWindow(Settings* settings, QWidget* parent = nullptr);
    ~PanelWindow() override;

    void setContent(QWidget* content);

    // How long the panel stays after losing the focus with no button held.
    void setHideGrace(std::chrono::milliseconds grace);
    // Whether a mouse button is held anywhere on the screen; the X server is asked by default.
    void setButtonProbe(std::function<bool()> probe);
    // True while a deactivation waits to hide the panel.
    bool isHidePending() const { return m_hideTimer.isActive(); }

Q_SIGNALS:
    void filesDropped(const QList<QUrl>& urls);
    // The desktop switched palettes (e.g. from light to dark).
    void paletteChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static QList<QUrl> fileUrls(const QMimeData* mime);
    static bool pointerButtonHeld();
    void hideUnlessBusy();

    Settings* m_settings;
    QTimer m_hideTimer;
    std::function<bool()> m_buttonProbe;
    bool m_dragInside = false;
};
