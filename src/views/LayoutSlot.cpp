#include "views/LayoutSlot.h"

#include <QLayout>
#include <QWidget>

LayoutSlot::LayoutSlot(QSizePolicy policy) : m_policy(policy) {}

LayoutSlot* LayoutSlot::fixed(QSize size) {
    auto* slot = new LayoutSlot(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    slot->m_minimum = slot->m_maximum = size;
    slot->setHints(size, size);
    return slot;
}

void LayoutSlot::invalidateAll(QLayout* layout) {
    // A box layout keeps its items' hints until it is invalidated itself; its parent does not ask.
    for (int i = 0; i < layout->count(); ++i)
        if (QLayout* inner = layout->itemAt(i)->layout())
            invalidateAll(inner);
    layout->invalidate();
}

void LayoutSlot::setHints(QSize hint, QSize minimumHint) {
    m_hint = hint;
    m_minimumHint = minimumHint;
}

// The rules QWidgetItem applies to a widget's hints and policy; a hidden widget has no size at all.
QSize LayoutSlot::sizeHint() const {
    if (isEmpty())
        return {0, 0};
    QSize size = m_hint.expandedTo(m_minimumHint).boundedTo(m_maximum).expandedTo(m_minimum);
    if (m_policy.horizontalPolicy() == QSizePolicy::Ignored)
        size.setWidth(0);
    if (m_policy.verticalPolicy() == QSizePolicy::Ignored)
        size.setHeight(0);
    return size;
}

QSize LayoutSlot::minimumSize() const {
    if (isEmpty())
        return {0, 0};
    const auto smallest = [](QSizePolicy::Policy policy, int hint, int minimumHint) {
        if (policy == QSizePolicy::Ignored)
            return 0;
        return policy & QSizePolicy::ShrinkFlag ? minimumHint : qMax(hint, minimumHint);
    };
    QSize size(smallest(m_policy.horizontalPolicy(), m_hint.width(), m_minimumHint.width()),
               smallest(m_policy.verticalPolicy(), m_hint.height(), m_minimumHint.height()));
    size = size.boundedTo(m_maximum);
    if (m_minimum.width() > 0)
        size.setWidth(m_minimum.width());
    if (m_minimum.height() > 0)
        size.setHeight(m_minimum.height());
    return size.expandedTo(QSize(0, 0));
}

QSize LayoutSlot::maximumSize() const {
    if (isEmpty())
        return {0, 0};
    const QSize hint = m_hint.expandedTo(m_minimumHint).expandedTo(m_minimum);
    QSize size = m_maximum;
    if (size.width() == QWIDGETSIZE_MAX && !(m_policy.horizontalPolicy() & QSizePolicy::GrowFlag))
        size.setWidth(hint.width());
    if (size.height() == QWIDGETSIZE_MAX && !(m_policy.verticalPolicy() & QSizePolicy::GrowFlag))
        size.setHeight(hint.height());
    return size;
}

Qt::Orientations LayoutSlot::expandingDirections() const {
    return isEmpty() ? Qt::Orientations() : m_policy.expandingDirections();
}

void LayoutSlot::setGeometry(const QRect& rect) {
    // Bounded by its maximum and centred in the rest, as a widget is placed.
    const QSize size = rect.size().boundedTo(maximumSize());
    m_geometry = QRect(rect.x() + (rect.width() - size.width()) / 2,
                       rect.y() + (rect.height() - size.height()) / 2, size.width(), size.height());
}
