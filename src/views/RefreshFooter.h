#pragma once

#include <QWidget>

// The centred "Aktualisieren" button under a tab's list.
class RefreshFooter : public QWidget {
    Q_OBJECT

public:
    explicit RefreshFooter(QWidget* parent = nullptr);

Q_SIGNALS:
    void refreshRequested();
};
