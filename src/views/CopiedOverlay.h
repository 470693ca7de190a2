#pragma once

#include <QRect>

class QPainter;

// The green "Link kopiert" strip that covers a row's main line for a moment after its link was
// copied (RowStates::LinkCopied). The list fades it in and out.
class CopiedOverlay {
public:
    // Over the main line `line`, `opacity` faded in.
    static void paint(QPainter* painter, const QRect& line, qreal opacity);
};
