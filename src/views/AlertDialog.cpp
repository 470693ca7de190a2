#include "AlertDialog.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {
std::optional<int> nextAnswer;
std::optional<AlertDialog::Shown> shown;
} // namespace

int AlertDialog::ask(QWidget* parent, const QString& message, const QString& informativeText,
                     const QStringList& buttons) {
    shown = Shown{message, informativeText, buttons};
    if (nextAnswer) {
        const int answer = *nextAnswer;
        nextAnswer.reset();
        return answer;
    }
    QMessageBox box(QMessageBox::Warning, QString(), message, QMessageBox::NoButton, parent);
    box.setInformativeText(informativeText);
    // The texts hold customers' names and file names: shown as written, never as markup.
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    box.setAccessibleName(message);
    QList<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        QPushButton* button =
            box.addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        button->setAccessibleName(buttons[i]);
        added << button;
    }
    if (!added.isEmpty()) {
        box.setDefaultButton(static_cast<QPushButton*>(added.first()));
        box.setEscapeButton(added.last());
    }
    box.exec();
    const int index = int(added.indexOf(box.clickedButton()));
    return index < 0 ? int(buttons.size()) - 1 : index;
}

void AlertDialog::setNextAnswer(int index) {
    nextAnswer = index;
}

std::optional<AlertDialog::Shown> AlertDialog::lastShown() {
    return shown;
}
