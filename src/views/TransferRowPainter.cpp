#include "views/TransferRowPainter.h"

#include "models/Format.h"
#include "models/TransferItem.h"
#include "models/UserText.h"
#include "transfers/TransferPresenter.h"
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
constexpr int bodyIcon = 16;
constexpr int smallIcon = 15;
constexpr int fineIcon = 12;

} // namespace

TransferRowPainter::TransferRowPainter(int rightMargin) : m_rightMargin(rightMargin) {}

TransferRowPainter::~TransferRowPainter() = default;

void TransferRowPainter::build() {
    if (m_layout && QApplication::font() == m_base)
        return;
    m_base = QApplication::font();
    m_nameFont = Style::font(Style::Text::Caption, QFont::Medium);
    m_smallFont = Style::font(Style::Text::Fine);

    // The parts of TransferRow's main line and of its cell, in their order and with their spacing.
    m_layout.reset(RowPaint::box(QBoxLayout::TopToBottom, 0, QMargins(0, 0, m_rightMargin, 0)));
    auto* line = RowPaint::box(QBoxLayout::LeftToRight, 10, QMargins(8, 6, 8, 6));
    m_icon = LayoutSlot::fixed(QSize(24, 24));
    line->addItem(m_icon);

    auto* texts = RowPaint::box(QBoxLayout::TopToBottom, 2);
    auto* nameRow = RowPaint::box(QBoxLayout::LeftToRight, 4);
    m_name = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
    nameRow->addItem(m_name);
    m_lock = LayoutSlot::fixed(QSize(fineIcon, fineIcon));
    nameRow->addItem(m_lock);
    nameRow->addStretch(1);
    texts->addLayout(nameRow);
    auto* dateRow = RowPaint::box(QBoxLayout::LeftToRight, 4);
    m_date = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    m_fileCount = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
    m_downloaded = new LayoutSlot(QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed));
    dateRow->addItem(m_date);
    dateRow->addItem(m_fileCount);
    dateRow->addItem(m_downloaded);
    dateRow->setStretch(2, 1);
    texts->addLayout(dateRow);
    line->addLayout(texts, 1);

    auto* buttons = RowPaint::box(QBoxLayout::LeftToRight, 0);
    for (LayoutSlot*& button : m_buttons) {
        button = LayoutSlot::fixed(QSize(22, 28));
        buttons->addItem(button);
    }
    m_buttons[4]->setKeepPlace(true);
    line->addLayout(buttons);
    m_layout->addLayout(line);

    m_divider = new LayoutSlot(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
    m_divider->setHints(QSize(-1, 3), QSize(-1, -1));
    m_layout->addItem(m_divider);

    // Every folded row is as high as one with any texts.
    RowPaint::elidedHints(m_name, m_nameFont, QString());
    RowPaint::labelHints(m_date, m_smallFont, QStringLiteral("00.00.0000 00:00"));
    RowPaint::elidedHints(m_fileCount, m_smallFont, QString());
    RowPaint::elidedHints(m_downloaded, m_smallFont, QString());
}

int TransferRowPainter::height(int) {
    build();
    LayoutSlot::invalidateAll(m_layout.get());
    return m_layout->sizeHint().height();
}

void TransferRowPainter::layOut(const QRect& rect, const TransferItem& transfer) {
    build();
    const TransferPresenter presenter(transfer);
    m_texts = {Format::shown(presenter.name()), Format::shown(presenter.date()),
               Format::shown(presenter.fileCount()), Format::shown(presenter.downloaded())};
    RowPaint::elidedHints(m_name, m_nameFont, m_texts[0]);
    m_lock->setShown(transfer.hasPassword);
    RowPaint::labelHints(m_date, m_smallFont, m_texts[1]);
    RowPaint::elidedHints(m_fileCount, m_smallFont, m_texts[2]);
    m_fileCount->setShown(!m_texts[2].isEmpty());
    RowPaint::elidedHints(m_downloaded, m_smallFont, m_texts[3]);
    m_downloaded->setShown(!m_texts[3].isEmpty());
    m_buttons[4]->setShown(presenter.canUnfold());
    LayoutSlot::invalidateAll(m_layout.get());
    m_layout->setGeometry(rect);
}

QString TransferRowPainter::toolTip(const QRect& rect, const TransferItem& transfer, const QPoint& point) {
    layOut(rect, transfer);
    // As the row's buttons and lock say it; the unfold button has none.
    const QString tips[] = {TransferPresenter(transfer).passwordButton(),
                            QCoreApplication::translate("TransferRow", "Herunterladen"), UserText::copyLink(),
                            UserText::deleteFromServer()};
    for (int i = 0; i < 4; ++i)
        if (m_buttons[i]->geometry().contains(point))
            return tips[i];
    if (m_lock->isShown() && m_lock->geometry().contains(point))
        return QCoreApplication::translate("TransferRow", "Passwortgeschützt");
    return {};
}

void TransferRowPainter::paint(QPainter* painter, const QRect& rect, const TransferItem& transfer,
                               const QWidget* list, const QPoint& pointer) {
    layOut(rect, transfer);
    painter->save();
    FileTypeIcon::paint(*painter, QRectF(m_icon->geometry()), FileTypeIcon::kind(transfer.fileName));
    const QColor text = list->palette().color(QPalette::WindowText);
    RowPaint::text(painter, m_name->geometry(), m_nameFont, text, m_texts[0], Qt::ElideMiddle);
    if (m_lock->isShown())
        RowPaint::symbol(painter, m_lock->geometry(),
                         Style::icon(QStringLiteral("lock.fill"), Style::accent()), fineIcon);
    RowPaint::text(painter, m_date->geometry(), m_smallFont, Style::secondary(), m_texts[1]);
    if (m_fileCount->isShown())
        RowPaint::text(painter, m_fileCount->geometry(), m_smallFont, Style::secondary(), m_texts[2],
                       Qt::ElideRight);
    if (m_downloaded->isShown())
        RowPaint::text(painter, m_downloaded->geometry(), m_smallFont, Style::green(), m_texts[3],
                       Qt::ElideRight);

    const QColor dim = Style::faded(Style::secondary(), 0.6);
    const std::pair<QIcon, int> buttons[] = {
        {transfer.hasPassword ? Style::icon(QStringLiteral("lock.fill"), Style::accent())
                              : Style::icon(QStringLiteral("lock.open"), dim),
         bodyIcon},
        {Style::icon(QStringLiteral("arrow.down.circle"), Style::accent()), bodyIcon},
        {Style::icon(QStringLiteral("doc.on.doc"), Style::secondary()), bodyIcon},
        {Style::icon(QStringLiteral("trash"), dim), smallIcon},
        {Style::icon(QStringLiteral("chevron.down"), Style::secondary()), bodyIcon},
    };
    for (int i = 0; i < 5; ++i) {
        const QRect button = m_buttons[i]->geometry();
        if (m_buttons[i]->isShown())
            RowPaint::button(painter, list, button, buttons[i].first, buttons[i].second,
                             button.contains(pointer));
    }
    RowPaint::divider(painter, list, m_divider->geometry());
    painter->restore();
}
