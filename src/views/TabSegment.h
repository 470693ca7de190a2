#pragma once

#include <QPushButton>

// One of the panel's two tabs ("Senden", "Empfangen") drawn as a segment. Assistive technology
// sees a page tab whose action switches the page (a plain checkable button would be a check box
// whose action only toggles it); the arrow keys move to the neighbouring tab and select it, Return
// and Space select the focused one.
class TabSegment : public QPushButton {
    Q_OBJECT

public:
    explicit TabSegment(const QString& text, QWidget* parent = nullptr);

    // Makes the accessibility layer build a page tab for every TabSegment.
    static void installAccessibleFactory();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
