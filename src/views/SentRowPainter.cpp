#include "views/SentRowPainter.h"

#include "models/Format.h"
#include "models/TransferItem.h"
#include "models/UserText.h"
#include "transfers/RowStates.h"
#include "transfers/TransferPresenter.h"
#include "views/CopiedOverlay.h"
#include "views/FileTypeIcon.h"
#include "views/LayoutSlot.h"
#include "views/Style.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QWidget>

namespace {
constexpr int bodyIcon = 16;
constexpr int smallIcon = 15;
constexpr int fineIcon = 12;
constexpr int fileLineHeight = 18;
constexpr int fileLinesShown = 10;

constexpr int passwordLineHeight = 28; // its buttons, 20 high, and 4 above and below
constexpr int loadingLineHeight = 28;

QString loadingText() {
    return QCoreApplication::translate("SentRow", "Passwort wird geladen...");
}

bool has(int state, RowStates::Flag flag) {
    return state & flag;
}
} // namespace

SentRowPainter::SentRowPainter(int rightMargin) : m_rightMargin(rightMargin) {}

SentRowPainter::~SentRowPainter() = default;

void SentRowPainter::build() {
    if (m_layout && QApplication::font() == m_base)
        return;
    m_base = QApplication::font();
    m_nameFont = Style::font(Style::Text::Caption, QFont::Medium);
    m_smallFont = Style::font(Style::Text::Fine);
    m_passwordFont = Style::monospaceFont(Style::Text::Caption);

    m_layout.reset(RowPaint::box(QBoxLayout::TopToBottom, 0, QMargins(0, 0, m_rightMargin, 0)));
    m_line = RowPaint::box(QBoxLayout::LeftToRight, 10, QMargins(8, 6, 8, 6));
    m_icon = LayoutSlot::fixed(QSize(24, 24));
    m_line->addItem(m_icon);

    auto* texts = RowPaint::box(QBoxLayout::TopToBottom, 2);
    auto* nameRow = RowPaint::box(QBoxLayout::LeftToRight, 4);
    m_name = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
    nameRow->addItem(m_name);
    m_lock = LayoutSlot::fixed(QSize(fineIcon, fineIcon));
    nameRow->addItem(m_lock);
    nameRow->addStretch(1);
    texts->addLayout(nameRow);
    // In a narrow panel the download date gives way first, then the count; the upload date stays.
    auto* dateRow = RowPaint::box(QBoxLayout::LeftToRight, 4);
    m_date = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    m_fileCount = new LayoutSlot(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
    m_downloaded = new LayoutSlot(QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed));
    dateRow->addItem(m_date);
    dateRow->addItem(m_fileCount);
    dateRow->addItem(m_downloaded);
    dateRow->setStretch(2, 1);
    texts->addLayout(dateRow);
    m_line->addLayout(texts, 1);

    auto* buttons = RowPaint::box(QBoxLayout::LeftToRight, 0);
    for (LayoutSlot*& button : m_buttons) {
        button = LayoutSlot::fixed(QSize(22, 28));
        buttons->addItem(button);
    }
    // Hidden, the unfold button still holds its place, so the buttons of all rows stay in columns.
    m_buttons[4]->setKeepPlace(true);
    m_line->addLayout(buttons);
    m_layout->addLayout(m_line);

    const auto line = [this] {
        auto* slot = new LayoutSlot(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
        m_layout->addItem(slot);
        return slot;
    };
    m_passwordLine = line();
    m_passwordLine->setHints(QSize(-1, passwordLineHeight), QSize(-1, passwordLineHeight));
    m_loadingLine = line();
    m_loadingLine->setHints(QSize(-1, loadingLineHeight), QSize(-1, loadingLineHeight));
    m_fileList = line();
    m_divider = line();
    m_divider->setHints(QSize(-1, 3), QSize(-1, -1));

    // Every folded row is as high as one with any texts.
    RowPaint::elidedHints(m_name, m_nameFont, QString());
    RowPaint::labelHints(m_date, m_smallFont, QStringLiteral("00.00.0000 00:00"));
    RowPaint::elidedHints(m_fileCount, m_smallFont, QString());
    RowPaint::elidedHints(m_downloaded, m_smallFont, QString());
}

int SentRowPainter::height(int width, const TransferItem& transfer, int state) {
    layOut(QRect(0, 0, width, 0), transfer, state);
    return m_layout->sizeHint().height();
}

void SentRowPainter::layOut(const QRect& rect, const TransferItem& transfer, int state) {
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
    m_passwordLine->setShown(has(state, RowStates::PasswordShown) && transfer.password.has_value());
    m_loadingLine->setShown(has(state, RowStates::PasswordLoading));
    const int files = int(qMin<qsizetype>(transfer.originalFileNames.size(), fileLinesShown));
    const int filesHeight = fileLineHeight * files + 8;
    m_fileList->setHints(QSize(-1, filesHeight), QSize(-1, filesHeight));
    m_fileList->setShown(has(state, RowStates::Unfolded) && presenter.canUnfold());
    LayoutSlot::invalidateAll(m_layout.get());
    // At its own height: while it unfolds or folds up, its place shows only part of it.
    m_layout->setGeometry(QRect(rect.topLeft(), QSize(rect.width(), m_layout->sizeHint().height())));

    // As the row's buttons and menus name them; the unfold button has no tooltip.
    const QString copyPassword = QCoreApplication::translate("SentRow", "Passwort kopieren");
    const QString hide = QCoreApplication::translate("SentRow", "Verbergen");
    m_hits = {{m_buttons[0]->geometry(), presenter.passwordButton(), presenter.passwordButton()},
              {m_buttons[1]->geometry(), QCoreApplication::translate("SentRow", "Herunterladen"),
               QCoreApplication::translate("SentRow", "Herunterladen")},
              {m_buttons[2]->geometry(), UserText::copyLink(), UserText::copyLink()},
              {m_buttons[3]->geometry(), UserText::deleteFromServer(), UserText::deleteFromServer()}};
    if (m_buttons[4]->isShown())
        m_hits.append({m_buttons[4]->geometry(), QCoreApplication::translate("SentRow", "Dateiliste"), {}});
    if (m_passwordLine->isShown()) {
        const QRect line = m_passwordLine->geometry().adjusted(12, 4, -12, -4);
        const QRect hideButton(line.right() - 21, line.top(), 22, 20);
        m_hits.append({hideButton.translated(-22 - 6, 0), copyPassword, copyPassword});
        m_hits.append({hideButton, hide, hide});
    }
    m_hits.append({m_line->geometry(), UserText::copyLink(), {}, false});
}

QList<RowPaint::Button> SentRowPainter::buttons(const QRect& rect, const TransferItem& transfer, int state) {
    layOut(rect, transfer, state);
    return m_hits;
}

RowPaint::Scrolling SentRowPainter::scrolling(const QRect& rect, const TransferItem& transfer, int state) {
    layOut(rect, transfer, state);
    if (!m_fileList->isShown())
        return {};
    return {m_fileList->geometry().adjusted(16, 0, -16, -8),
            fileLineHeight * int(qMax<qsizetype>(0, transfer.originalFileNames.size() - fileLinesShown))};
}

QList<RowPaint::Line> SentRowPainter::lines(const QRect& rect, const TransferItem& transfer, int state,
                                            int scrolled) {
    layOut(rect, transfer, state);
    QList<RowPaint::Line> lines;
    if (m_passwordLine->isShown())
        lines.append({*transfer.password, m_passwordLine->geometry()});
    if (m_loadingLine->isShown())
        lines.append({loadingText(), m_loadingLine->geometry()});
    if (m_fileList->isShown()) {
        const QRect names = m_fileList->geometry().adjusted(16, 0, -16, -8);
        int top = names.top() - qBound(0, scrolled, scrolling(rect, transfer, state).range);
        for (const QString& name : transfer.originalFileNames) {
            lines.append({name, QRect(names.left(), top, names.width(), fileLineHeight).intersected(names)});
            top += fileLineHeight;
        }
    }
    return lines;
}

QString SentRowPainter::toolTip(const QRect& rect, const TransferItem& transfer, int state,
                                const QPoint& point) {
    layOut(rect, transfer, state);
    for (const RowPaint::Button& button : std::as_const(m_hits))
        if (button.rect.contains(point))
            return button.toolTip;
    if (m_lock->isShown() && m_lock->geometry().contains(point))
        return QCoreApplication::translate("SentRow", "Passwortgeschützt");
    return {};
}

void SentRowPainter::paint(QPainter* painter, const QRect& rect, const TransferItem& transfer, int state,
                           const QWidget* list, const RowPaint::Look& look) {
    layOut(rect, transfer, state);
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip); // unfolding, the row is higher than its place
    FileTypeIcon::paint(*painter, QRectF(m_icon->geometry()), FileTypeIcon::kind(transfer.fileName));
    const QColor text = list->palette().color(QPalette::WindowText);
    RowPaint::text(painter, m_name->geometry(), m_nameFont, text, m_texts[0], Qt::ElideMiddle);
    if (m_lock->isShown())
        RowPaint::symbol(painter, m_lock->geometry(),
                         Style::icon(QStringLiteral("lock-filled"), Style::accent()), fineIcon);
    RowPaint::text(painter, m_date->geometry(), m_smallFont, Style::secondary(), m_texts[1]);
    if (m_fileCount->isShown())
        RowPaint::text(painter, m_fileCount->geometry(), m_smallFont, Style::secondary(), m_texts[2],
                       Qt::ElideRight);
    if (m_downloaded->isShown())
        RowPaint::text(painter, m_downloaded->geometry(), m_smallFont, Style::green(), m_texts[3],
                       Qt::ElideRight);

    const QColor dim = Style::faded(Style::secondary(), 0.6);
    const bool copied = has(state, RowStates::LinkCopied);
    QList<std::pair<QIcon, int>> icons = {
        {transfer.hasPassword ? Style::icon(QStringLiteral("lock-filled"), Style::accent())
                              : Style::icon(QStringLiteral("lock-open"), dim),
         bodyIcon},
        {Style::icon(QStringLiteral("download-circle"), Style::accent()), bodyIcon},
        {copied ? Style::icon(QStringLiteral("emblem-ok-filled"), Style::green())
                : Style::icon(QStringLiteral("edit-copy"), Style::secondary()),
         bodyIcon},
        {Style::icon(QStringLiteral("user-trash"), dim), smallIcon},
    };
    if (m_buttons[4]->isShown())
        icons.append({Style::icon(has(state, RowStates::Unfolded) ? QStringLiteral("pan-up")
                                                                  : QStringLiteral("pan-down"),
                                  Style::secondary()),
                      bodyIcon});

    if (m_passwordLine->isShown()) {
        const QRect line = m_passwordLine->geometry();
        painter->fillRect(line, Style::faded(Style::secondary(), 0.08));
        const QRect inner = line.adjusted(12, 4, -12, -4);
        RowPaint::symbol(painter, QRect(inner.left(), inner.center().y() - fineIcon / 2, fineIcon, fineIcon),
                         Style::icon(QStringLiteral("lock-filled"), Style::accent()), fineIcon);
        const QRect copyButton = m_hits[icons.size()].rect;
        const int left = inner.left() + fineIcon + 6;
        RowPaint::text(painter, QRect(left, inner.top(), copyButton.left() - 6 - left, inner.height()),
                       m_passwordFont, text, *transfer.password);
        icons.append({has(state, RowStates::PasswordCopied)
                          ? Style::icon(QStringLiteral("object-select"), Style::green())
                          : Style::icon(QStringLiteral("edit-copy"), Style::secondary()),
                      fineIcon});
        icons.append({Style::icon(QStringLiteral("view-conceal"), Style::secondary()), fineIcon});
    }
    for (int i = 0; i < icons.size(); ++i) {
        const RowPaint::Button& button = m_hits[i];
        const bool pressed = look.pressed == button.action && button.rect.contains(look.pointer);
        RowPaint::button(painter, list, button.rect, icons[i].first, icons[i].second,
                         button.rect.contains(look.pointer), pressed, look.focused == i);
    }

    if (m_loadingLine->isShown()) {
        const QRect line = m_loadingLine->geometry().adjusted(12, 2, -12, -2);
        QStyleOptionProgressBar bar;
        bar.initFrom(list);
        bar.rect = QRect(line.left(), line.center().y() - 3, 24, 6);
        bar.minimum = bar.maximum = 0; // busy
        list->style()->drawControl(QStyle::CE_ProgressBar, &bar, painter, list);
        RowPaint::text(painter, line.adjusted(24 + 6, 0, 0, 0), m_smallFont, Style::secondary(),
                       loadingText());
    }
    if (m_fileList->isShown()) {
        const QRect names = m_fileList->geometry().adjusted(16, 0, -16, -8);
        const int range =
            fileLineHeight * int(qMax<qsizetype>(0, transfer.originalFileNames.size() - fileLinesShown));
        painter->save();
        painter->setClipRect(names, Qt::IntersectClip);
        int top = names.top() - qBound(0, look.scrolled, range);
        for (const QString& name : transfer.originalFileNames) {
            if (top >= names.bottom())
                break;
            FileTypeIcon::paint(*painter, QRectF(names.left(), top + 2, 14, 14), FileTypeIcon::kind(name));
            RowPaint::text(painter, QRect(names.left() + 14 + 6, top, names.width() - 20, fileLineHeight),
                           m_smallFont, text, Format::shown(name), Qt::ElideMiddle);
            top += fileLineHeight;
        }
        painter->restore();
    }
    RowPaint::divider(painter, list, m_divider->geometry());
    CopiedOverlay::paint(painter, m_line->geometry(), look.copied);
    painter->restore();
}
