#pragma once

#include <QWidget>
#include <chrono>

class QPropertyAnimation;

// The green "Link kopiert" strip that covers a row's main line for a moment
// after its link was copied. Fades in and out and follows the line's size.
class CopiedOverlay : public QWidget {
    Q_OBJECT

public:
    // Covers `line` (its parent) from now on; hidden until flash().
    explicit CopiedOverlay(QWidget* line);

    // Flashes the overlay of a row's `line`, built on first use (most rows never show one);
    // `changed` runs on `row` whenever the strip appears or goes.
    template <typename Row>
    static void flashOver(CopiedOverlay*& overlay, QWidget* line, Row* row, void (Row::*changed)()) {
        if (!overlay) {
            overlay = new CopiedOverlay(line);
            connect(overlay, &CopiedOverlay::showingChanged, row, changed);
        }
        overlay->flash();
    }

    // How long a flash stays; tests shorten it.
    static void setDuration(std::chrono::milliseconds duration);

    // Shows the strip for the duration. A second flash starts a second timer;
    // the first one still ends the strip.
    void flash();
    bool isShowing() const { return m_showing; }

Q_SIGNALS:
    void showingChanged(bool showing);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setShowing(bool value);

    bool m_showing = false;
    QPropertyAnimation* m_fade;
};
