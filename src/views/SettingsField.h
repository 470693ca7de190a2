#pragma once

#include <QWidget>

class QLineEdit;

// A labelled text entry of the settings page: the label above a rounded text field, whose input is
// hidden for secrets.
class SettingsField : public QWidget {
    Q_OBJECT

public:
    SettingsField(const QString& label, const QString& placeholder, bool isSecure, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QLineEdit* lineEdit() const { return m_edit; }

Q_SIGNALS:
    void textChanged(const QString& text);

private:
    QLineEdit* m_edit;
};
