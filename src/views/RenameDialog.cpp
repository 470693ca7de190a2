#include "views/RenameDialog.h"

#include "models/Graphemes.h"
#include "models/UserText.h"
#include "transfers/Detached.h"
#include "transfers/SentTransferOperations.h"
#include "transfers/SentTransfers.h"
#include "views/Style.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int maximumLength = 60;
}

RenameDialog::RenameDialog(const QString& code, const QString& originalName, SentTransfers* sent,
                           SentTransferOperations* operations, QWidget* parent)
    : QDialog(parent), m_code(code), m_originalName(originalName), m_sent(sent), m_operations(operations) {
    setWindowTitle(QCoreApplication::translate("RenameDialog", "Datei umbenennen"));
    setAccessibleName(QCoreApplication::translate("RenameDialog", "Datei umbenennen"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(420);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto* title = new QLabel(QCoreApplication::translate("RenameDialog", "Datei umbenennen"));
    Style::setFont(title, Style::Text::Strong);
    title->setAccessibleName(title->text());
    layout->addWidget(title);

    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(4);
    m_field = new QLineEdit;
    m_field->setPlaceholderText(QCoreApplication::translate("RenameDialog", "Basisname"));
    m_field->setAccessibleName(QCoreApplication::translate("RenameDialog", "Basisname"));
    nameRow->addWidget(m_field, 1);
    auto* extensionLabel = new QLabel(extension(originalName));
    extensionLabel->setTextFormat(Qt::PlainText);
    extensionLabel->setFont(Style::monospaceFont(Style::Text::Body));
    Style::setTextColor(extensionLabel, Style::secondary());
    extensionLabel->setAccessibleName(extensionLabel->text());
    extensionLabel->setObjectName(QStringLiteral("extension"));
    nameRow->addWidget(extensionLabel);
    layout->addLayout(nameRow);

    m_counter = new QLabel;
    m_counter->setObjectName(QStringLiteral("counter"));
    Style::setFont(m_counter, Style::Text::Caption);
    layout->addWidget(m_counter);

    m_error = new QLabel;
    m_error->setTextFormat(Qt::PlainText);
    m_error->setObjectName(QStringLiteral("error"));
    m_error->setWordWrap(true);
    Style::setFont(m_error, Style::Text::Caption);
    Style::setTextColor(m_error, Style::red());
    m_error->hide();
    layout->addWidget(m_error);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QCoreApplication::translate("RenameDialog", "Abbrechen"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAccessibleName(cancel->text());
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject); // Escape rejects as well
    buttons->addWidget(cancel);
    m_saveButton = new QPushButton(QCoreApplication::translate("RenameDialog", "Speichern"));
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setAccessibleName(m_saveButton->text());
    m_saveButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &RenameDialog::save);
    buttons->addWidget(m_saveButton);
    layout->addLayout(buttons);

    connect(m_field, &QLineEdit::textChanged, this, &RenameDialog::refresh);
    m_field->setText(stem(originalName));
    refresh();

    connect(this, &QDialog::finished, this, [this] { m_finished = true; });
    if (sent)
        connect(sent, &SentTransfers::transfersChanged, this, &RenameDialog::closeIfGone);
}

RenameDialog* RenameDialog::openFor(QWidget* window, const QString& code) {
    if (!window)
        return nullptr;
    const auto dialogs = window->findChildren<RenameDialog*>(Qt::FindDirectChildrenOnly);
    for (RenameDialog* dialog : dialogs)
        if (dialog->m_code == code && !dialog->m_finished)
            return dialog;
    return nullptr;
}

void RenameDialog::closeIfGone() {
    if (!m_sent || m_finished || m_sent->contains(m_code))
        return;
    m_sent->setError(
        QCoreApplication::translate("RenameDialog", "Dieser Transfer ist nicht mehr auf dem Server."));
    reject();
}

QString RenameDialog::extension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : fileName.mid(dot);
}

QString RenameDialog::stem(const QString& fileName) {
    return fileName.left(fileName.size() - extension(fileName).size());
}

QString RenameDialog::basis() const {
    return m_field->text();
}

void RenameDialog::setBasis(const QString& basis) {
    m_field->setText(basis);
}

QString RenameDialog::trimmedBasis() const {
    return m_field->text().trimmed();
}

bool RenameDialog::canSave() const {
    const QString trimmed = trimmedBasis();
    return !trimmed.isEmpty() && Graphemes::count(trimmed) <= maximumLength &&
           trimmed != stem(m_originalName) && !m_isSaving;
}

void RenameDialog::refresh() {
    const int length = Graphemes::count(trimmedBasis());
    m_counter->setText(QStringLiteral("%1 / %2").arg(length).arg(maximumLength));
    m_counter->setAccessibleName(m_counter->text());
    const QColor counterColor = length > maximumLength ? Style::red() : Style::secondary();
    Style::setTextColor(m_counter, counterColor);

    m_error->setText(m_errorText.value_or(QString()));
    m_error->setAccessibleName(m_error->text());
    if (m_error->isVisibleTo(this) != m_errorText.has_value()) {
        m_error->setVisible(m_errorText.has_value());
        // A wrapped label's height follows the width only when the dialog is sized anew.
        adjustSize();
    }

    m_saveButton->setText(m_isSaving ? QCoreApplication::translate("RenameDialog", "Speichere\u2026")
                                     : QCoreApplication::translate("RenameDialog", "Speichern"));
    m_saveButton->setAccessibleName(m_saveButton->text());
    m_saveButton->setEnabled(canSave());
}

void RenameDialog::save() {
    // Return reaches here through the default button, which is only enabled when saving is allowed;
    // the check guards direct calls too.
    if (!canSave())
        return;
    const QString newName = trimmedBasis() + extension(m_originalName);
    if (newName == m_originalName) {
        accept();
        return;
    }
    m_isSaving = true;
    m_errorText.reset();
    refresh();

    if (!m_operations)
        return;
    // A failure is reported as the sent transfers' error, which the dialog shows as well.
    detach(m_operations->renameOutgoingFile(m_code, m_originalName, newName), this, [this](bool renamed) {
        m_isSaving = false;
        if (renamed) {
            accept();
            return;
        }
        const std::optional<QString> message = m_sent ? m_sent->error() : std::nullopt;
        m_errorText = message && !message->isEmpty() ? *message : UserText::unknownError();
        refresh();
    });
}
