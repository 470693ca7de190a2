#include "CopiedOverlay.h"

#include "Style.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>

namespace {
std::chrono::milliseconds flashDuration{2000};
constexpr int iconSize = 13;
} // namespace

CopiedOverlay::CopiedOverlay(QWidget* line) : QWidget(line) {
    setObjectName(QStringLiteral("copiedOverlay"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("QWidget#copiedOverlay { background: %1; border-radius: 6px; }")
                      .arg(Style::css(Style::faded(Style::green(), 0.85))));
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(6);
    layout->addStretch(1);
    auto* icon = new QLabel;
    icon->setPixmap(
        Style::icon(QStringLiteral("checkmark.circle.fill"), Qt::white).pixmap(iconSize, iconSize));
    icon->setFixedSize(iconSize, iconSize);
    layout->addWidget(icon);
    auto* text = new QLabel(QCoreApplication::translate("CopiedOverlay", "Link kopiert"));
    text->setAccessibleName(text->text());
    Style::setFont(text, Style::Text::Caption, QFont::Medium);
    Style::setTextColor(text, Qt::white);
    layout->addWidget(text);
    layout->addStretch(1);

    auto* opacity = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(opacity);
    m_fade = new QPropertyAnimation(opacity, "opacity", this);
    m_fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (!m_showing)
            hide();
    });
    line->installEventFilter(this);
    hide();
}

void CopiedOverlay::setDuration(std::chrono::milliseconds duration) {
    flashDuration = duration;
}

std::chrono::milliseconds CopiedOverlay::duration() {
    return flashDuration;
}

void CopiedOverlay::showOver(CopiedOverlay*& overlay, QWidget* line, bool showing) {
    if (!overlay && !showing)
        return;
    if (!overlay)
        overlay = new CopiedOverlay(line);
    overlay->setShowing(showing);
}

bool CopiedOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void CopiedOverlay::setShowing(bool value) {
    if (value == m_showing)
        return;
    m_showing = value;
    m_fade->stop();
    m_fade->setDuration(value ? 200 : 300);
    m_fade->setStartValue(value ? 0.0 : 1.0);
    m_fade->setEndValue(value ? 1.0 : 0.0);
    if (value) {
        setGeometry(parentWidget()->rect());
        raise();
        show();
    }
    m_fade->start();
}
