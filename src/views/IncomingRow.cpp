#include "views/IncomingRow.h"

#include "models/UserText.h"
#include "transfers/IncomingPresenter.h"
#include "views/CopiedOverlay.h"
#include "views/ElidedLabel.h"
#include "views/FileTypeIcon.h"
#include "views/Labels.h"
#include "views/Style.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int title3Icon = 18;
constexpr int captionIcon = 13;
constexpr int caption2Icon = 12;

QToolButton* symbolButton(const QString& tooltip, int iconSize, const QString& accessibleName = {}) {
    auto* button = Style::symbolButton(iconSize, tooltip, accessibleName, QSize(iconSize + 6, iconSize + 8));
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    return button;
}

// One part of the line under the headline, shortened at its end when space runs out.
ElidedLabel* factLabel(const char* name, const QColor& color, QFont::Weight weight = QFont::Normal) {
    auto* label = new ElidedLabel(Qt::ElideRight);
    label->setObjectName(QLatin1String(name));
    Style::setFont(label, Style::Text::Fine, weight);
    label->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(color)));
    return label;
}

bool hasText(const std::optional<QString>& value) {
    return value && !value->isEmpty();
}
} // namespace

IncomingRow::IncomingRow(const IncomingUpload& upload, RowStates* states, QWidget* parent)
    : QWidget(parent), m_upload(upload), m_states(states), m_state(states->of(upload.token)) {
    connect(states, &RowStates::changed, this, [this](const QString& token) {
        if (token == m_upload.token && m_states->of(token) != m_state) {
            m_state = m_states->of(token);
            refresh();
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildMainLine(layout);

    m_details = new QWidget;
    m_details->setObjectName(QStringLiteral("details"));
    auto* details = new QVBoxLayout(m_details);
    details->setContentsMargins(16, 0, 16, 8);
    details->setSpacing(6);
    m_message = new ElidedLabel(Qt::ElideRight, 3);
    m_message->setObjectName(QStringLiteral("message"));
    Style::setFont(m_message, Style::Text::Fine);
    m_message->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::secondary())));
    details->addWidget(m_message);
    m_fileRows = new QWidget;
    m_fileRows->setObjectName(QStringLiteral("fileRows"));
    auto* rows = new QVBoxLayout(m_fileRows);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(6);
    details->addWidget(m_fileRows);
    layout->addWidget(m_details);
    m_details->hide();

    refresh();
}

void IncomingRow::buildMainLine(QVBoxLayout* layout) {
    m_mainLine = new QWidget;
    m_mainLine->setObjectName(QStringLiteral("mainLine"));
    m_mainLine->installEventFilter(this);
    auto* line = new QHBoxLayout(m_mainLine);
    line->setContentsMargins(16, 8, 16, 8);
    line->setSpacing(10);

    m_dot = new QLabel;
    m_dot->setObjectName(QStringLiteral("statusDot"));
    m_dot->setFixedSize(8, 8);
    line->addWidget(m_dot);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_headline = new ElidedLabel(Qt::ElideMiddle);
    m_headline->setObjectName(QStringLiteral("headline"));
    Style::setFont(m_headline, Style::Text::Caption, QFont::Medium);
    texts->addWidget(m_headline);

    auto* facts = new QHBoxLayout;
    facts->setSpacing(6);
    // Every part may shorten: the narrowest panel cannot show them all in full.
    m_customer = factLabel("customer", Style::secondary());
    m_order = factLabel("order", Style::accent(), QFont::Medium);
    m_fileCount = factLabel("fileCount", Style::secondary());
    m_size = factLabel("size", Style::secondary());
    for (ElidedLabel* part : {m_customer, m_order, m_fileCount, m_size})
        facts->addWidget(part);
    facts->addStretch(1);
    texts->addLayout(facts);
    line->addLayout(texts, 1);

    m_date = Labels::text(Style::Text::Fine, Style::secondary());
    m_date->setObjectName(QStringLiteral("date"));
    line->addWidget(m_date);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    m_downloadButton = symbolButton(QString(), title3Icon);
    m_downloadButton->setObjectName(QStringLiteral("downloadButton"));
    m_downloadButton->setIcon(Style::icon(QStringLiteral("arrow.down.circle.fill"), Style::accent()));
    connect(m_downloadButton, &QToolButton::clicked, this, &IncomingRow::downloadRequested);
    buttons->addWidget(m_downloadButton);

    m_copyButton = symbolButton(UserText::copyLink(), captionIcon);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    connect(m_copyButton, &QToolButton::clicked, this, &IncomingRow::copyLinkAction);
    buttons->addWidget(m_copyButton);

    auto* remove = symbolButton(UserText::deleteFromServer(), caption2Icon);
    remove->setObjectName(QStringLiteral("deleteButton"));
    remove->setIcon(Style::icon(QStringLiteral("trash"), Style::faded(Style::secondary(), 0.6)));
    connect(remove, &QToolButton::clicked, this, &IncomingRow::deleteRequested);
    buttons->addWidget(remove);

    // No tooltip on the unfold button; screen readers still need a name.
    m_expandButton =
        symbolButton(QString(), captionIcon, QCoreApplication::translate("IncomingRow", "Details"));
    // Hidden, it still holds its place, so the buttons of all rows stay in columns.
    Style::keepPlaceWhenHidden(m_expandButton);
    m_expandButton->setObjectName(QStringLiteral("expandButton"));
    connect(m_expandButton, &QToolButton::clicked, this,
            [this] { m_states->set(m_upload.token, RowStates::Unfolded, !isExpanded()); });
    buttons->addWidget(m_expandButton);
    line->addLayout(buttons);

    layout->addWidget(m_mainLine);
}

void IncomingRow::setUpload(const IncomingUpload& upload) {
    const int state = m_states->of(upload.token);
    if (upload == m_upload && state == m_state)
        return;
    m_upload = upload;
    m_state = state;
    refresh();
}

void IncomingRow::refresh() {
    const IncomingUpload& u = m_upload;
    m_dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;")
                             .arg(Style::css(u.isDownloaded ? Style::green() : Style::orange())));
    const IncomingPresenter presenter(u);
    m_headline->setFullText(presenter.headline());
    m_customer->setFullText(presenter.customer());
    for (const auto& [label, text] :
         {std::pair{m_order, presenter.order()}, std::pair{m_fileCount, presenter.fileCount()},
          std::pair{m_size, presenter.size()}}) {
        label->setFullText(text);
        label->setVisible(!text.isEmpty());
    }
    Labels::setText(m_date, presenter.date());

    // The same text the list gives a screen reader for this row when it is only painted.
    m_mainLine->setAccessibleName(presenter.accessibleName());

    const QString downloadTip = presenter.downloadButton();
    m_downloadButton->setToolTip(downloadTip);
    m_downloadButton->setAccessibleName(downloadTip);
    CopiedOverlay::showOver(m_overlay, m_mainLine, showCopied());
    m_copyButton->setIcon(showCopied() ? Style::icon(QStringLiteral("checkmark.circle.fill"), Style::green())
                                       : Style::icon(QStringLiteral("doc.on.doc"), Style::secondary()));

    const bool expandable = presenter.canUnfold();
    m_expandButton->setVisible(expandable);
    m_expandButton->setIcon(Style::icon(
        isExpanded() ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"), Style::secondary()));

    const bool detailsShown = isExpanded() && expandable;
    if (detailsShown) {
        m_message->setFullText(u.nachricht.value_or(QString()));
        m_message->setVisible(hasText(u.nachricht));
        if (m_listedFiles != u.files)
            rebuildFileRows();
        m_fileRows->setVisible(u.files.size() >= 2);
    }
    m_details->setVisible(detailsShown);
}

void IncomingRow::rebuildFileRows() {
    m_listedFiles = m_upload.files;
    QLayout* rows = m_fileRows->layout();
    while (QLayoutItem* item = rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const IncomingFile& file : std::as_const(m_listedFiles)) {
        auto* row = new QWidget;
        row->setAccessibleName(file.name + QLatin1Char(' ') + file.sizeFormatted);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(6);
        line->addWidget(new FileTypeIcon(file.name, 14));
        auto* name = new ElidedLabel(Qt::ElideMiddle);
        Style::setFont(name, Style::Text::Fine);
        name->setFullText(file.name);
        line->addWidget(name, 1);
        auto* size = Labels::text(Style::Text::Fine, Style::secondary());
        Labels::setText(size, file.sizeFormatted);
        line->addWidget(size);
        rows->addWidget(row);
    }
}

bool IncomingRow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_mainLine)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_mainLine->rect().contains(mouse->position().toPoint())) {
            copyLinkAction();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void IncomingRow::copyLinkAction() {
    Q_EMIT copyLinkRequested();
}
