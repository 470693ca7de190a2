#pragma once

#include <QDialog>
#include <QPointer>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class SentTransferOperations;
class SentTransfers;

// The small dialog in which the user gives a sent file a new base name; the
// extension is kept as it is. Modal to the panel; it closes itself when the
// rename succeeded or the user cancelled, and stays open after a failure. It is
// tied to the transfer's code, not to a row, so it stays open with what the user
// typed while refreshes rebuild the list, and closes only when the transfer is
// gone, saying so on the send tab's error line.
class RenameDialog : public QDialog {
    Q_OBJECT

public:
    RenameDialog(const QString& code, const QString& originalName, SentTransfers* sent,
                 SentTransferOperations* operations, QWidget* parent = nullptr);

    // The open dialog for `code` among the children of `window`, if any.
    static RenameDialog* openFor(QWidget* window, const QString& code);

    // The part from the last "." on, unless that dot is the first character.
    static QString extension(const QString& fileName);
    static QString stem(const QString& fileName);

    QString code() const { return m_code; }
    QString basis() const;
    void setBasis(const QString& basis);
    bool isSaving() const { return m_isSaving; }
    std::optional<QString> errorText() const { return m_errorText; }
    bool canSave() const;

public Q_SLOTS:
    void save();

private:
    QString trimmedBasis() const;
    void closeIfGone();
    void refresh();

    QString m_code;
    QString m_originalName;
    QPointer<SentTransfers> m_sent;
    QPointer<SentTransferOperations> m_operations;
    bool m_isSaving = false;
    bool m_finished = false;
    std::optional<QString> m_errorText;

    QLineEdit* m_field;
    QLabel* m_counter;
    QLabel* m_error;
    QPushButton* m_saveButton;
};
