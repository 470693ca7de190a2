#pragma once

#include <QLabel>

// A label that keeps to a number of lines at whatever width it gets, shortening
// its text with "…" (in the middle or at the end) instead of growing or clipping.
// The full text stays available as fullText() and as the accessible name.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideMiddle, int maximumLines = 1,
                         QWidget* parent = nullptr);

    QString fullText() const { return m_fullText; }
    void setFullText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maximumLines > 1; }
    int heightForWidth(int width) const override;

    // The lines `text` shows in `font` at `width`: wrapped at word boundaries, at most
    // `maximumLines`, the last one shortened when text is left over.
    static QStringList linesFor(const QString& text, const QFont& font, Qt::TextElideMode mode,
                                int maximumLines, int width);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QStringList linesFor(int width) const {
        return linesFor(m_fullText, font(), m_mode, m_maximumLines, width);
    }
    int lineHeight() const;
    void refresh();

    QString m_fullText;
    Qt::TextElideMode m_mode;
    int m_maximumLines;
};
