#include "views/ElidedLabel.h"

#include "models/Format.h"

#include <QEvent>
#include <QTextLayout>
#include <QtMath>
#include <algorithm>

namespace {
// QTextLayout breaks lines only at Unicode line separators.
QString withLineSeparators(QString text) {
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}
} // namespace

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, int maximumLines, QWidget* parent)
    : QLabel(parent), m_mode(mode), m_maximumLines(qMax(1, maximumLines)) {
    setTextFormat(Qt::PlainText); // its texts come from servers and customers
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(m_maximumLines > 1);
    setSizePolicy(policy);
}

void ElidedLabel::setFullText(const QString& text) {
    const QString shown = Format::shown(text);
    if (shown == m_fullText)
        return;
    m_fullText = shown;
    setAccessibleName(shown);
    refresh();
    updateGeometry();
}

QStringList ElidedLabel::linesFor(const QString& fullText, const QFont& font, Qt::TextElideMode mode,
                                  int maximumLines, int width) {
    const QFontMetrics metrics(font);
    width = qMax(1, width);
    const QString oneLine = QString(fullText).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Measured in fractions: a text exactly as wide as the label must not lose its end to rounding.
    if (oneLine == fullText && QFontMetricsF(font).horizontalAdvance(oneLine) <= width)
        return {fullText};
    if (maximumLines == 1)
        return {metrics.elidedText(oneLine, mode, width)};

    const QString text = withLineSeparators(fullText);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<std::pair<int, int>> ranges;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        ranges.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();

    QStringList lines;
    for (qsizetype i = 0; i < ranges.size() && i < maximumLines; ++i) {
        QString line = text.mid(ranges[i].first, ranges[i].second).trimmed();
        line.replace(QChar::LineSeparator, QLatin1Char(' '));
        if (i == maximumLines - 1 && ranges.size() > maximumLines) {
            // The text goes on: the cut is marked even where this line itself fits.
            const QString marked = line + QChar(0x2026);
            if (metrics.horizontalAdvance(marked) <= width) {
                line = marked;
            } else {
                QString rest = text.mid(ranges[i].first);
                rest.replace(QChar::LineSeparator, QLatin1Char(' '));
                line = metrics.elidedText(rest, Qt::ElideRight, width);
            }
        }
        lines << line;
    }
    return lines;
}

void ElidedLabel::refresh() {
    const QString shown = linesFor(contentsRect().width()).join(QLatin1Char('\n'));
    if (shown != text())
        setText(shown);
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    int width = qCeil(QFontMetricsF(font()).horizontalAdvance(
        QString(m_fullText).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    if (m_maximumLines > 1)
        width = qMin(width, 40 * fontMetrics().averageCharWidth());
    return {width + margins.left() + margins.right(),
            heightForWidth(width + margins.left() + margins.right())};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right() + fontMetrics().averageCharWidth(),
            lineHeight() + margins.top() + margins.bottom()};
}

int ElidedLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int lines = int(linesFor(width - margins.left() - margins.right()).size());
    return qMax(1, lines) * lineHeight() + margins.top() + margins.bottom();
}

int ElidedLabel::lineHeight() const {
    // Some fonts report a line spacing below their height; underscores and descenders need the height,
    // and capitals with umlauts reach above the ascent (their dots were cut off otherwise).
    const QFontMetrics metrics = fontMetrics();
    const int tallest = metrics.boundingRect(QStringLiteral("ÄÖÜÅ_gj")).height();
    return std::max({metrics.lineSpacing(), metrics.height() + 1, tallest + 1});
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refresh();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        refresh();
        updateGeometry();
    }
}
