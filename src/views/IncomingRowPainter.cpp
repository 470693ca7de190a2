#include "views/IncomingRowPainter.h"

#include "models/Format.h"
#include "models/IncomingUpload.h"
#include "models/UserText.h"
#include "transfers/IncomingPresenter.h"
#include "views/LayoutSlot.h"
#include "views/RowPaint.h"
#include "views/Style.h"

#include <QApplication>
#include <QBoxLayout>
#include <QPainter>
#include <QWidget>

namespace {
constexpr int subtitleIcon = 18;
constexpr int captionIcon = 13;
constexpr int fineIcon = 12;

LayoutSlot* buttonSlot(int iconSize) {
    return LayoutSlot::fixed(QSize(iconSize + 6, iconSize + 8));
}
} // namespace

IncomingRowPainter::IncomingRowPainter() = default;

IncomingRowPainter::~IncomingRowPainter() = default;

void IncomingRowPainter::build() {
    if (m_layout && QApplication::font() == m_base)
        return;
    m_base = QApplication::font();
    m_headlineFont = Style::font(Style::Text::Caption, QFont::Medium);
    m_smallFont = Style::font(Style::Text::Fine);
    m_orderFont = Style::font(Style::Text::Fine, QFont::Medium);

    // The parts of IncomingRow's main line and of its cell, in their order and with their spacing.
    m_layout.reset(RowPaint::box(QBoxLayout::TopToBottom, 0));
    auto* line = RowPaint::box(QBoxLayout::LeftToRight, 10, QMargins(16, 8, 16, 8));
    m_dot = LayoutSlot::fixed(QSize(8, 8));
    line->addItem(m_dot);
    auto* texts = RowPaint::box(QBoxLayout::TopToBottom, 2);
    m_headline = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
    texts->addItem(m_headline);
    auto* facts = RowPaint::box(QBoxLayout::LeftToRight, 6);
    for (LayoutSlot*& fact : m_facts) {
        fact = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
        facts->addItem(fact);
    }
    facts->addStretch(1);
    texts->addLayout(facts);
    line->addLayout(texts, 1);
    m_date = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    line->addItem(m_date);
    auto* buttons = RowPaint::box(QBoxLayout::LeftToRight, 0);
    const int iconSizes[] = {subtitleIcon, captionIcon, fineIcon, captionIcon};
    for (int i = 0; i < 4; ++i) {
        m_buttons[i] = buttonSlot(iconSizes[i]);
        buttons->addItem(m_buttons[i]);
    }
    m_buttons[3]->setKeepPlace(true);
    line->addLayout(buttons);
    m_layout->addLayout(line);

    m_divider = new LayoutSlot(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
    m_divider->setHints(QSize(-1, 3), QSize(-1, -1));
    m_layout->addItem(m_divider);

    // Every folded row is as high as one with any texts.
    RowPaint::elidedHints(m_headline, m_headlineFont, QString());
    for (LayoutSlot* fact : m_facts)
        RowPaint::elidedHints(fact, m_smallFont, QString());
    RowPaint::labelHints(m_date, m_smallFont, QStringLiteral("00.00. 00:00"));
}

int IncomingRowPainter::height(int) {
    build();
    LayoutSlot::invalidateAll(m_layout.get());
    return m_layout->sizeHint().height();
}

void IncomingRowPainter::layOut(const QRect& rect, const IncomingUpload& upload) {
    build();
    const IncomingPresenter presenter(upload);
    m_texts = {Format::shown(presenter.headline()), Format::shown(presenter.customer()),
               Format::shown(presenter.order()),    Format::shown(presenter.fileCount()),
               Format::shown(presenter.size()),     Format::shown(presenter.date())};
    RowPaint::elidedHints(m_headline, m_headlineFont, m_texts[0]);
    for (int i = 0; i < 4; ++i) {
        RowPaint::elidedHints(m_facts[i], i == 1 ? m_orderFont : m_smallFont, m_texts[i + 1]);
        m_facts[i]->setShown(i == 0 || !m_texts[i + 1].isEmpty());
    }
    RowPaint::labelHints(m_date, m_smallFont, m_texts[5]);
    m_buttons[3]->setShown(presenter.canUnfold());
    LayoutSlot::invalidateAll(m_layout.get());
    m_layout->setGeometry(rect);
}

QString IncomingRowPainter::toolTip(const QRect& rect, const IncomingUpload& upload, const QPoint& point) {
    layOut(rect, upload);
    // As the row's buttons say it; the unfold button has none.
    const QString tips[] = {IncomingPresenter(upload).downloadButton(), UserText::copyLink(),
                            UserText::deleteFromServer()};
    for (int i = 0; i < 3; ++i)
        if (m_buttons[i]->geometry().contains(point))
            return tips[i];
    return {};
}

void IncomingRowPainter::paint(QPainter* painter, const QRect& rect, const IncomingUpload& upload,
                               const QWidget* list, const QPoint& pointer) {
    layOut(rect, upload);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(upload.isDownloaded ? Style::green() : Style::orange());
    painter->drawRoundedRect(QRectF(m_dot->geometry()), 4, 4);
    painter->setRenderHint(QPainter::Antialiasing, false);

    RowPaint::text(painter, m_headline->geometry(), m_headlineFont,
                   list->palette().color(QPalette::WindowText), m_texts[0], Qt::ElideMiddle);
    for (int i = 0; i < 4; ++i)
        if (m_facts[i]->isShown())
            RowPaint::text(painter, m_facts[i]->geometry(), i == 1 ? m_orderFont : m_smallFont,
                           i == 1 ? Style::accent() : Style::secondary(), m_texts[i + 1], Qt::ElideRight);
    RowPaint::text(painter, m_date->geometry(), m_smallFont, Style::secondary(), m_texts[5]);

    const QColor dim = Style::faded(Style::secondary(), 0.6);
    const std::pair<QIcon, int> buttons[] = {
        {Style::icon(QStringLiteral("arrow.down.circle.fill"), Style::accent()), subtitleIcon},
        {Style::icon(QStringLiteral("doc.on.doc"), Style::secondary()), captionIcon},
        {Style::icon(QStringLiteral("trash"), dim), fineIcon},
        {Style::icon(QStringLiteral("chevron.down"), Style::secondary()), captionIcon},
    };
    // Their style sheet draws no frame, hovered or not.
    for (int i = 0; i < 4; ++i)
        if (m_buttons[i]->isShown())
            RowPaint::button(painter, list, m_buttons[i]->geometry(), buttons[i].first, buttons[i].second,
                             false);
    Q_UNUSED(pointer);
    RowPaint::divider(painter, list, m_divider->geometry());
    painter->restore();
}
