#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>

// By accessible name, whether shown or not.
template <typename T = QAbstractButton> T* named(QWidget* root, const QString& name) {
    for (T* child : root->findChildren<T*>())
        if (child->accessibleName() == name)
            return child;
    return nullptr;
}

// By accessible name, among what the root's window shows.
template <typename T = QAbstractButton> T* shownNamed(QWidget* root, const QString& name) {
    for (T* child : root->findChildren<T*>())
        if (child->accessibleName() == name && child->isVisibleTo(root->window()))
            return child;
    return nullptr;
}

// By object name; a missing one ends the run, as no test can go on without it.
template <typename T> T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline void trigger(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action->trigger();
    QFAIL(qPrintable(QStringLiteral("no entry ") + text));
}

// The alert open over `window` with this message (any, without one), if any.
inline QMessageBox* openAlert(QWidget* window, const QString& message = {}) {
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible() && (message.isEmpty() || box->text() == message))
            return box;
    return nullptr;
}

// The alert's buttons, in the order shown.
inline QStringList alertButtons(const QMessageBox* box) {
    QStringList texts;
    for (const QAbstractButton* button : box->buttons())
        texts << button->text();
    return texts;
}

// Clicks the alert's button with this text, as the user would.
inline void answerAlert(QMessageBox* box, const QString& button) {
    for (QAbstractButton* candidate : box->buttons())
        if (candidate->text() == button)
            return QTest::mouseClick(candidate, Qt::LeftButton);
    QFAIL(qPrintable(QStringLiteral("no button ") + button));
}
