#pragma once

#include <QPixmap>
#include <QWidget>

class QPainter;

// A small coloured glyph for a file, chosen by the name's extension and drawn on
// a 24-unit grid scaled to the icon's size. Both lists of the panel use it.
class FileTypeIcon : public QWidget {
    Q_OBJECT

public:
    enum class Kind { pdf, image, document, spreadsheet, archive, layout, other };

    FileTypeIcon(const QString& fileName, int size, QWidget* parent = nullptr);

    QString fileName() const { return m_fileName; }
    void setFileName(const QString& fileName);

    // By the text after the last dot of the last path component, in any letter case.
    static Kind kind(const QString& fileName);
    static QColor color(Kind kind);
    // The glyph at `size` points, sharp at the given device pixel ratio.
    static QPixmap pixmap(const QString& fileName, int size, qreal devicePixelRatio = 1.0);
    // Draws the glyph into the square `target`.
    static void paint(QPainter& painter, const QRectF& target, Kind kind);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_fileName;
    int m_size;
};
