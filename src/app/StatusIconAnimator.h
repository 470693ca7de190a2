#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

class Uploads;

// Switches the tray icon between idle, ZIP animation, progress ring and check
// mark as the upload state changes. Starting one animation stops the
// one before it: timers are replaced, never stacked.
class StatusIconAnimator : public QObject {
    Q_OBJECT
public:
    enum class Picture { Idle, Zip, Progress, Checkmark };

    struct Timings {
        std::chrono::milliseconds zipTick{120};
        std::chrono::milliseconds spinnerTick{300};
        std::chrono::milliseconds checkmarkHold{2000};
    };

    StatusIconAnimator(Uploads* uploads, Timings timings, qreal devicePixelRatio, QObject* parent = nullptr);

    QImage normalIcon() const { return m_normalIcon; }
    Picture picture() const { return m_picture; }
    double spinnerAngle() const { return m_spinnerAngle; }

    void startZipAnimation();
    void startSpinner();
    void stopSpinner();

Q_SIGNALS:
    void iconChanged(const QImage& image, StatusIconAnimator::Picture picture);

private:
    void show(const QImage& image, Picture picture);
    void onUploadingChanged();
    void onZippingChanged();

    QPointer<Uploads> m_uploads;
    Timings m_timings;
    qreal m_devicePixelRatio;
    QImage m_normalIcon;
    QTimer m_spinnerTimer;
    double m_spinnerAngle = 0;
    Picture m_picture = Picture::Idle;
};
