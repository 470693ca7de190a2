#include "views/RowCell.h"

#include "views/Style.h"

#include <QFrame>
#include <QPainter>
#include <QVBoxLayout>

RowCell::RowCell(QWidget* row, int rightMargin) : m_row(row) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, rightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(row);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    Style::setTextColor(divider, Style::faded(Style::secondary(), 0.3));
    layout->addWidget(divider);
}

void RowCell::setMarked(bool marked) {
    if (marked == m_marked)
        return;
    m_marked = marked;
    update();
}

void RowCell::setCurrent(bool current) {
    m_focusPolicies.removeIf([](const auto& entry) { return !entry.first; });
    for (QWidget* widget : findChildren<QWidget*>()) {
        auto policy = std::find_if(m_focusPolicies.begin(), m_focusPolicies.end(),
                                   [widget](const auto& entry) { return entry.first == widget; });
        if (policy == m_focusPolicies.end())
            policy = m_focusPolicies.insert(m_focusPolicies.end(), {widget, widget->focusPolicy()});
        widget->setFocusPolicy(current ? policy->second : Qt::NoFocus);
    }
}

void RowCell::paintEvent(QPaintEvent*) {
    if (!m_marked)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
    painter.drawRoundedRect(
        QRectF(rect()).adjusted(1.5, 1.5, -1.5 - layout()->contentsMargins().right(), -1.5), 4, 4);
}
