#include "views/SettingsField.h"

#include "views/Style.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

SettingsField::SettingsField(const QString& label, const QString& placeholder, bool isSecure, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* title = new QLabel(label);
    title->setAccessibleName(label);
    Style::setFont(title, Style::Text::Caption);
    title->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::secondary())));
    layout->addWidget(title);

    m_edit = new QLineEdit;
    m_edit->setPlaceholderText(placeholder);
    m_edit->setAccessibleName(label);
    m_edit->setEchoMode(isSecure ? QLineEdit::Password : QLineEdit::Normal);
    Style::setFont(m_edit, Style::Text::Caption);
    title->setBuddy(m_edit);
    layout->addWidget(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, &SettingsField::textChanged);
}

QString SettingsField::text() const {
    return m_edit->text();
}

void SettingsField::setText(const QString& text) {
    m_edit->setText(text);
}
