#pragma once

#include <QLayoutItem>
#include <QSizePolicy>
#include <QWidget>

// A place in a widgetless layout that answers the layout as a widget of the same sizes and policy
// would, and is aligned in the room it gets as a widget is. Painted rows lay out their parts with
// Qt's box layouts, with the sizes and rules the panel's widgets follow.
class LayoutSlot : public QLayoutItem {
public:
    explicit LayoutSlot(QSizePolicy policy = {});

    // A widget of fixed size.
    static LayoutSlot* fixed(QSize size);

    // What the widget would say: its size hint and minimum size hint.
    void setHints(QSize hint, QSize minimumHint);
    // Hidden slots take no room, as hidden widgets do, unless `keepPlace` (a widget whose size
    // policy retains its size when hidden).
    void setShown(bool shown) { m_shown = shown; }
    void setKeepPlace(bool keepPlace) { m_keepPlace = keepPlace; }
    bool isShown() const { return m_shown; }

    // Forgets what `layout` and the layouts in it computed from their items' hints.
    static void invalidateAll(QLayout* layout);

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    QSize maximumSize() const override;
    Qt::Orientations expandingDirections() const override;
    void setGeometry(const QRect& rect) override;
    QRect geometry() const override { return m_geometry; }
    bool isEmpty() const override { return !m_shown && !m_keepPlace; }

private:
    QSizePolicy m_policy;
    QSize m_hint;
    QSize m_minimumHint;
    QSize m_minimum{0, 0};
    QSize m_maximum{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    QRect m_geometry;
    bool m_shown = true;
    bool m_keepPlace = false;
};
