#pragma once

#include <QWidget>
#include <chrono>

class QPropertyAnimation;

// The green "Link kopiert" strip that covers a row's main line for a moment
// after its link was copied (RowStates::LinkCopied). Fades in and out and follows the line's size.
class CopiedOverlay : public QWidget {
    Q_OBJECT

public:
    // Covers `line` (its parent) from now on; hidden until shown.
    explicit CopiedOverlay(QWidget* line);

    // Shows or hides the overlay of a row's `line`, built on first use (most rows never show one).
    static void showOver(CopiedOverlay*& overlay, QWidget* line, bool showing);

    // How long the strip stays after a copy; tests shorten it.
    static std::chrono::milliseconds duration();
    static void setDuration(std::chrono::milliseconds duration);

    void setShowing(bool value);
    bool isShowing() const { return m_showing; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_showing = false;
    QPropertyAnimation* m_fade;
};
