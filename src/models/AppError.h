#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Base of every error the client throws. It carries the text the user sees.
class AppError : public std::exception {
public:
    explicit AppError(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8()) {}

    QString message() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};
