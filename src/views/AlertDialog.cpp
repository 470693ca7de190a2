#include "views/AlertDialog.h"

#include "models/Format.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

void AlertDialog::ask(QWidget* parent, const QString& rawMessage, const QString& rawInformativeText,
                      const QStringList& buttons, QObject* context, std::function<void(int)> answered) {
    // The texts hold customers' names and file names: shown as written, never as markup, and
    // without the controls that would reorder them.
    const QString message = Format::shown(rawMessage);
    const QString informativeText = Format::shown(rawInformativeText);
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::NoButton,
                                parent ? parent->window() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(informativeText);
    box->setTextFormat(Qt::PlainText);
    for (QLabel* label : box->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    box->setAccessibleName(message);
    QList<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        QPushButton* button =
            box->addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        button->setAccessibleName(buttons[i]);
        added << button;
    }
    if (!added.isEmpty()) {
        box->setDefaultButton(static_cast<QPushButton*>(added.first()));
        box->setEscapeButton(added.last());
    }
    QObject::connect(box, &QMessageBox::finished, context ? context : box,
                     [box, added, last = int(buttons.size()) - 1, answered = std::move(answered)] {
                         const int index = int(added.indexOf(box->clickedButton()));
                         answered(index < 0 ? last : index);
                     });
    box->open();
}
