#include "app/UpdateDialogs.h"

#include "app/UpdateWindowRaiser.h"
#include "net/CancelToken.h"
#include "services/UpdaterBackend.h"
#include "transfers/UpdaterManager.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <memory>
#include <qcoro/qcorosignal.h>

namespace {
// QCoro resumes after a signal on a later turn of the event loop: the box must still be there to
// say which button closed it, so it is deleted only once the coroutine is done with it.
struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};
using BoxPointer = std::unique_ptr<QMessageBox, DeleteLater>;

const char* const markerProperty = "zanvoltUpdateDialog";

QString plainText(const QString& richText) {
    return QTextDocumentFragment::fromHtml(richText).toPlainText();
}

// Mirrors the visible text, so that screen readers and AT-SPI scripts find the button by it.
void nameAfterText(QAbstractButton* button) {
    button->setAccessibleName(button->text());
}
} // namespace

UpdateDialogs::UpdateDialogs(QObject* parent) : UpdaterUserDriver(parent) {}

UpdateDialogs::~UpdateDialogs() {
    delete m_progress.data();
}

void UpdateDialogs::attach(UpdaterManager& manager) {
    manager.controller().setUserDriver(new UpdateDialogs(&manager));
    new UpdateWindowRaiser(manager, &manager);
}

bool UpdateDialogs::isUpdateDialog(const QWidget* widget) {
    return widget && widget->property(markerProperty).toBool();
}

QMessageBox* UpdateDialogs::makeBox(const QString& text, const QString& informativeText) {
    auto* box = new QMessageBox();
    box->setProperty(markerProperty, true);
    // Set before the first show: changing the flags later re-creates the native window.
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(title());
    box->setTextFormat(Qt::RichText);
    box->setText(text);
    box->setInformativeText(informativeText);
    box->setAccessibleName(plainText(text));
    box->setAccessibleDescription(plainText(informativeText));
    // The release notes link opens in the browser.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::RichText);
        label->setOpenExternalLinks(true);
    }
    return box;
}

QCoro::Task<bool> UpdateDialogs::ask(QString text, QString informativeText, QString acceptLabel,
                                     QString rejectLabel) {
    const BoxPointer box(makeBox(text, informativeText));
    QPushButton* accept = box->addButton(acceptLabel, QMessageBox::AcceptRole);
    nameAfterText(box->addButton(rejectLabel, QMessageBox::RejectRole));
    nameAfterText(accept);
    box->setDefaultButton(accept);
    box->show();
    co_await qCoro(box.get(), &QDialog::finished);
    co_return box->clickedButton() == accept;
}

QCoro::Task<> UpdateDialogs::inform(QString text, QString informativeText) {
    const BoxPointer box(makeBox(text, informativeText));
    nameAfterText(box->addButton(QMessageBox::Ok));
    box->show();
    co_await qCoro(box.get(), &QDialog::finished);
}

void UpdateDialogs::showProgress(QString label, qint64 done, qint64 total, QPointer<CancelToken> cancel) {
    if (!m_progress) {
        m_progress = new QProgressDialog();
        m_progress->setProperty(markerProperty, true);
        m_progress->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        m_progress->setWindowTitle(title());
        m_progress->setCancelButtonText(QCoreApplication::translate("UpdateDialogs", "Abbrechen"));
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        if (auto* button = m_progress->findChild<QPushButton*>())
            nameAfterText(button);
    }
    disconnect(m_progress, &QProgressDialog::canceled, nullptr, nullptr);
    if (cancel)
        connect(m_progress, &QProgressDialog::canceled, cancel, &CancelToken::cancel);
    m_progress->setLabelText(label);
    m_progress->setAccessibleName(label);
    // QProgressDialog counts in int: scale to per mille of the whole.
    if (total > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(int(std::min<qint64>(done, total) * 1000 / total));
    } else {
        m_progress->setRange(0, 0);
    }
    m_progress->show();
}

void UpdateDialogs::hideProgress() {
    if (m_progress) {
        m_progress->hide(); // at once: the next dialog may show before the deletion
        m_progress->deleteLater();
    }
    m_progress = nullptr;
}
