#include "views/FileTypeIcon.h"

#include "views/Style.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr qreal lineWidth = 1.5;

QString extensionOf(const QString& fileName) {
    const QString last = fileName.section(QLatin1Char('/'), -1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : last.mid(dot + 1).toLower();
}

// The page with its rounded corners, and the folded corner, on the 24-unit grid.
void drawDocumentOutline(QPainter& painter) {
    QPainterPath page;
    page.moveTo(14, 2);
    page.lineTo(6, 2);
    page.arcTo(QRectF(4, 2, 4, 4), 90, 90);
    page.lineTo(4, 20);
    page.arcTo(QRectF(4, 18, 4, 4), 180, 90);
    page.lineTo(18, 22);
    page.arcTo(QRectF(16, 18, 4, 4), 270, 90);
    page.lineTo(20, 8);
    page.closeSubpath();
    painter.drawPath(page);
    painter.drawPolyline(QPolygonF{QPointF(14, 2), QPointF(14, 8), QPointF(20, 8)});
}

QPen pen(const QColor& color, bool round) {
    return QPen(color, lineWidth, Qt::SolidLine, round ? Qt::RoundCap : Qt::FlatCap,
                round ? Qt::RoundJoin : Qt::MiterJoin);
}
} // namespace

FileTypeIcon::FileTypeIcon(const QString& fileName, int size, QWidget* parent)
    : QWidget(parent), m_fileName(fileName), m_size(size) {
    setFixedSize(size, size);
}

void FileTypeIcon::setFileName(const QString& fileName) {
    if (fileName == m_fileName)
        return;
    m_fileName = fileName;
    update();
}

FileTypeIcon::Kind FileTypeIcon::kind(const QString& fileName) {
    static const QHash<QString, Kind> table = [] {
        QHash<QString, Kind> kinds;
        const std::pair<Kind, const char*> rows[] = {
            {Kind::pdf, "pdf"},
            {Kind::image, "jpg jpeg png gif tif tiff bmp webp svg psd ai eps"},
            {Kind::document, "doc docx rtf odt"},
            {Kind::spreadsheet, "xls xlsx csv ods"},
            {Kind::archive, "zip rar 7z tar gz"},
            {Kind::layout, "indd"},
        };
        for (const auto& [kind, extensions] : rows) {
            for (const QString& extension : QString::fromLatin1(extensions).split(QLatin1Char(' ')))
                kinds.insert(extension, kind); // no extension is listed twice
        }
        return kinds;
    }();
    return table.value(extensionOf(fileName), Kind::other);
}

QColor FileTypeIcon::color(Kind kind) {
    switch (kind) {
    case Kind::pdf:
        return QColor::fromRgbF(0.937f, 0.267f, 0.267f);
    case Kind::image:
        return QColor::fromRgbF(0.204f, 0.753f, 0.922f);
    case Kind::document:
        return QColor::fromRgbF(0.169f, 0.424f, 0.69f);
    case Kind::spreadsheet:
        return QColor::fromRgbF(0.22f, 0.631f, 0.412f);
    case Kind::archive:
        return QColor::fromRgbF(0.604f, 0.604f, 0.69f);
    case Kind::layout:
        return QColor::fromRgbF(0.6f, 0.2f, 0.6f);
    case Kind::other:
        break;
    }
    return Style::secondary();
}

QPixmap FileTypeIcon::pixmap(const QString& fileName, int size, qreal devicePixelRatio) {
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(painter, QRectF(0, 0, size, size), kind(fileName));
    return pixmap;
}

void FileTypeIcon::paint(QPainter& painter, const QRectF& target, Kind kind) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.topLeft());
    painter.scale(target.width() / 24.0, target.height() / 24.0);
    painter.setBrush(Qt::NoBrush);
    const QColor tint = color(kind);
    painter.setPen(pen(tint, false));

    if (kind == Kind::image) {
        painter.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
        painter.drawEllipse(QRectF(7, 7, 3, 3));
        painter.drawPolyline(QPolygonF{QPointF(21, 15), QPointF(16, 10), QPointF(5, 21)});
        painter.restore();
        return;
    }
    drawDocumentOutline(painter);
    switch (kind) {
    case Kind::pdf:
        painter.setPen(pen(tint, true));
        painter.drawLine(QPointF(9, 11), QPointF(15, 11));
        painter.drawLine(QPointF(9, 15), QPointF(15, 15));
        break;
    case Kind::document:
        painter.setPen(pen(tint, true));
        painter.drawPolyline(
            QPolygonF{QPointF(8, 13), QPointF(10, 18), QPointF(12, 13), QPointF(14, 18), QPointF(16, 13)});
        break;
    case Kind::spreadsheet:
        painter.setPen(pen(tint, true));
        painter.drawPolyline(QPolygonF{QPointF(8, 18), QPointF(8, 12), QPointF(16, 12), QPointF(16, 18)});
        painter.drawLine(QPointF(12, 12), QPointF(12, 18));
        painter.drawLine(QPointF(8, 15), QPointF(16, 15));
        break;
    case Kind::archive:
        painter.drawRoundedRect(QRectF(10, 12, 4, 6), 1, 1);
        painter.drawLine(QPointF(12, 12), QPointF(12, 10));
        break;
    case Kind::layout: {
        QFont font = painter.font();
        font.setPixelSize(7);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(QRectF(2, 11, 20, 10), Qt::AlignCenter, QStringLiteral("Id"));
        break;
    }
    case Kind::image:
    case Kind::other:
        break;
    }
    painter.restore();
}

void FileTypeIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), kind(m_fileName));
}
