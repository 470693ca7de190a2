#include "app/StatusIconAnimator.h"

#include "app/StatusIcons.h"
#include "app/TrayIcon.h"
#include "transfers/Uploads.h"

StatusIconAnimator::StatusIconAnimator(Uploads* uploads, Timings timings, qreal devicePixelRatio,
                                       QObject* parent)
    : QObject(parent), m_uploads(uploads), m_timings(timings), m_devicePixelRatio(devicePixelRatio),
      m_normalIcon(TrayIcon::create(devicePixelRatio)) {
    connect(uploads, &Uploads::isUploadingChanged, this, &StatusIconAnimator::onUploadingChanged);
    connect(uploads, &Uploads::isZippingChanged, this, &StatusIconAnimator::onZippingChanged);
    m_picture = Picture::Idle;
    // Both states are delivered once at start, like a subscription to their
    // current values: the check mark shows for a moment.
    onUploadingChanged();
    onZippingChanged();
}

void StatusIconAnimator::show(const QImage& image, Picture picture) {
    m_picture = picture;
    Q_EMIT iconChanged(image, picture);
}

void StatusIconAnimator::onUploadingChanged() {
    if (!m_uploads)
        return;
    if (m_uploads->isUploading()) {
        startSpinner();
    } else if (m_uploads->endedForSettings()) {
        // Nothing was sent: no check mark.
        m_spinnerTimer.disconnect(this);
        m_spinnerTimer.stop();
        show(m_normalIcon, Picture::Idle);
    } else {
        stopSpinner();
    }
}

void StatusIconAnimator::onZippingChanged() {
    if (!m_uploads)
        return;
    if (m_uploads->isZipping())
        startZipAnimation();
    else if (m_uploads->isUploading())
        startSpinner();
}

void StatusIconAnimator::startZipAnimation() {
    m_spinnerAngle = 0;
    m_spinnerTimer.disconnect(this);
    m_spinnerTimer.stop();
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        m_spinnerAngle += 30;
        if (m_spinnerAngle >= 360)
            m_spinnerAngle = 0;
        show(StatusIcons::createZipIcon(m_spinnerAngle, m_devicePixelRatio), Picture::Zip);
    });
    m_spinnerTimer.start(m_timings.zipTick);
}

void StatusIconAnimator::startSpinner() {
    m_spinnerTimer.disconnect(this);
    m_spinnerTimer.stop();
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        if (m_uploads)
            show(StatusIcons::createProgressIcon(m_uploads->progress(), m_devicePixelRatio),
                 Picture::Progress);
    });
    m_spinnerTimer.start(m_timings.spinnerTick);
    show(StatusIcons::createProgressIcon(0, m_devicePixelRatio), Picture::Progress);
}

void StatusIconAnimator::stopSpinner() {
    m_spinnerTimer.disconnect(this);
    m_spinnerTimer.stop();
    show(StatusIcons::createCheckmarkIcon(m_devicePixelRatio), Picture::Checkmark);
    // Not cancelled by a new upload within the hold time: the next tick of
    // the new timer replaces the idle icon again.
    QTimer::singleShot(m_timings.checkmarkHold, this, [this] { show(m_normalIcon, Picture::Idle); });
}
