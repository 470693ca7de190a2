#include "views/IncomingRowPainter.h"

#include "models/Format.h"
#include "models/IncomingUpload.h"
#include "models/UserText.h"
#include "transfers/IncomingPresenter.h"
#include "transfers/RowStates.h"
#include "views/CopiedOverlay.h"
#include "views/ElidedLabel.h"
#include "views/FileTypeIcon.h"
#include "views/LayoutSlot.h"
#include "views/RowPaint.h"
#include "views/Style.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QPainter>
#include <QWidget>

namespace {
constexpr int subtitleIcon = 18;
constexpr int captionIcon = 13;
constexpr int fineIcon = 12;

constexpr int detailsSpacing = 6;

LayoutSlot* buttonSlot(int iconSize) {
    return LayoutSlot::fixed(QSize(iconSize + 6, iconSize + 8));
}

// The single files are listed only where there are several.
bool listsFiles(const IncomingUpload& upload) {
    return upload.files.size() >= 2;
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

    m_layout.reset(RowPaint::box(QBoxLayout::TopToBottom, 0));
    auto* line = m_line = RowPaint::box(QBoxLayout::LeftToRight, 10, QMargins(16, 8, 16, 8));
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
    // Hidden, the unfold button still holds its place, so the buttons of all rows stay in columns.
    m_buttons[3]->setKeepPlace(true);
    line->addLayout(buttons);
    m_layout->addLayout(line);

    m_details = new LayoutSlot(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
    m_layout->addItem(m_details);

    m_divider = new LayoutSlot(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
    m_divider->setHints(QSize(-1, 3), QSize(-1, -1));
    m_layout->addItem(m_divider);

    // Every folded row is as high as one with any texts.
    RowPaint::elidedHints(m_headline, m_headlineFont, QString());
    for (LayoutSlot* fact : m_facts)
        RowPaint::elidedHints(fact, m_smallFont, QString());
    RowPaint::labelHints(m_date, m_smallFont, QStringLiteral("00.00. 00:00"));
}

int IncomingRowPainter::height(int width, const IncomingUpload& upload, int state) {
    layOut(QRect(0, 0, width, 0), upload, state);
    return m_layout->sizeHint().height();
}

void IncomingRowPainter::layOut(const QRect& rect, const IncomingUpload& upload, int state) {
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

    // The details: the message in at most three lines, then the files, 16 in from the sides.
    const bool unfolded = (state & RowStates::Unfolded) && presenter.canUnfold();
    m_details->setShown(unfolded);
    m_message.clear();
    if (unfolded) {
        if (upload.nachricht && !upload.nachricht->isEmpty())
            m_message = ElidedLabel::linesFor(Format::shown(*upload.nachricht), m_smallFont, Qt::ElideRight,
                                              3, rect.width() - 32);
        const int line = RowPaint::lineHeight(m_smallFont);
        const int files = listsFiles(upload) ? int(upload.files.size()) : 0;
        int height = int(m_message.size()) * line + files * line + qMax(0, files - 1) * detailsSpacing;
        if (!m_message.isEmpty() && files > 0)
            height += detailsSpacing;
        m_details->setHints(QSize(-1, height + 8), QSize(-1, height + 8));
    }
    LayoutSlot::invalidateAll(m_layout.get());
    // At its own height: while it unfolds or folds up, its place shows only part of it.
    m_layout->setGeometry(QRect(rect.topLeft(), QSize(rect.width(), m_layout->sizeHint().height())));

    const QString tips[] = {presenter.downloadButton(), UserText::copyLink(), UserText::deleteFromServer()};
    m_hits.clear();
    for (int i = 0; i < 3; ++i)
        m_hits.append({m_buttons[i]->geometry(), tips[i], tips[i]});
    if (m_buttons[3]->isShown())
        m_hits.append(
            {m_buttons[3]->geometry(), QCoreApplication::translate("IncomingPresenter", "Details"), {}});
    m_hits.append({m_line->geometry(), UserText::copyLink(), {}, false});
}

QList<RowPaint::Button> IncomingRowPainter::buttons(const QRect& rect, const IncomingUpload& upload,
                                                    int state) {
    layOut(rect, upload, state);
    return m_hits;
}

QList<RowPaint::Line> IncomingRowPainter::lines(const QRect& rect, const IncomingUpload& upload, int state,
                                                int) {
    layOut(rect, upload, state);
    QList<RowPaint::Line> lines;
    if (!m_details->isShown())
        return lines;
    const QRect details = m_details->geometry().adjusted(16, 0, -16, -8);
    const int line = RowPaint::lineHeight(m_smallFont);
    int top = details.top();
    if (!m_message.isEmpty()) {
        lines.append(
            {*upload.nachricht, QRect(details.left(), top, details.width(), int(m_message.size()) * line)});
        top += int(m_message.size()) * line + detailsSpacing;
    }
    if (listsFiles(upload))
        for (const IncomingFile& file : upload.files) {
            lines.append({file.name + QLatin1Char(' ') + file.sizeFormatted,
                          QRect(details.left(), top, details.width(), line)});
            top += line + detailsSpacing;
        }
    return lines;
}

QString IncomingRowPainter::toolTip(const QRect& rect, const IncomingUpload& upload, int state,
                                    const QPoint& point) {
    layOut(rect, upload, state);
    for (const RowPaint::Button& button : std::as_const(m_hits))
        if (button.rect.contains(point))
            return button.toolTip;
    return {};
}

void IncomingRowPainter::paint(QPainter* painter, const QRect& rect, const IncomingUpload& upload, int state,
                               const QWidget* list, const RowPaint::Look& look) {
    layOut(rect, upload, state);
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip); // unfolding, the row is higher than its place
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(upload.isDownloaded ? Style::green() : Style::orange());
    painter->drawRoundedRect(QRectF(m_dot->geometry()), 4, 4);
    painter->setRenderHint(QPainter::Antialiasing, false);

    const QColor text = list->palette().color(QPalette::WindowText);
    RowPaint::text(painter, m_headline->geometry(), m_headlineFont, text, m_texts[0], Qt::ElideMiddle);
    for (int i = 0; i < 4; ++i)
        if (m_facts[i]->isShown())
            RowPaint::text(painter, m_facts[i]->geometry(), i == 1 ? m_orderFont : m_smallFont,
                           i == 1 ? Style::accent() : Style::secondary(), m_texts[i + 1], Qt::ElideRight);
    RowPaint::text(painter, m_date->geometry(), m_smallFont, Style::secondary(), m_texts[5]);

    const QColor dim = Style::faded(Style::secondary(), 0.6);
    const std::pair<QIcon, int> buttons[] = {
        {Style::icon(QStringLiteral("download-circle-filled"), Style::accent()), subtitleIcon},
        {state & RowStates::LinkCopied ? Style::icon(QStringLiteral("emblem-ok-filled"), Style::green())
                                       : Style::icon(QStringLiteral("edit-copy"), Style::secondary()),
         captionIcon},
        {Style::icon(QStringLiteral("user-trash"), dim), fineIcon},
        {Style::icon(state & RowStates::Unfolded ? QStringLiteral("pan-up") : QStringLiteral("pan-down"),
                     Style::secondary()),
         captionIcon},
    };
    // Their style sheet draws no frame, hovered or pressed.
    for (int i = 0; i < 4; ++i)
        if (m_buttons[i]->isShown())
            RowPaint::button(painter, list, m_buttons[i]->geometry(), buttons[i].first, buttons[i].second,
                             false, false, look.focused == i);

    if (m_details->isShown()) {
        const QRect details = m_details->geometry().adjusted(16, 0, -16, -8);
        const int line = RowPaint::lineHeight(m_smallFont);
        int top = details.top();
        for (const QString& shown : std::as_const(m_message)) {
            RowPaint::text(painter, QRect(details.left(), top, details.width(), line), m_smallFont,
                           Style::secondary(), shown);
            top += line;
        }
        if (!m_message.isEmpty())
            top += detailsSpacing;
        if (listsFiles(upload)) {
            for (const IncomingFile& file : upload.files) {
                const QString size = Format::shown(file.sizeFormatted);
                const int sizeWidth = QFontMetrics(m_smallFont).horizontalAdvance(size);
                FileTypeIcon::paint(*painter, QRectF(details.left(), top + (line - 14) / 2, 14, 14),
                                    FileTypeIcon::kind(file.name));
                RowPaint::text(painter,
                               QRect(details.left() + 20, top, details.width() - 20 - 6 - sizeWidth, line),
                               m_smallFont, text, Format::shown(file.name), Qt::ElideMiddle);
                RowPaint::text(painter, QRect(details.right() - sizeWidth, top, sizeWidth + 1, line),
                               m_smallFont, Style::secondary(), size);
                top += line + detailsSpacing;
            }
        }
    }
    RowPaint::divider(painter, list, m_divider->geometry());
    CopiedOverlay::paint(painter, m_line->geometry(), look.copied);
    painter->restore();
}
