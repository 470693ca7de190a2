#include "PanelFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

PanelFixture::PanelFixture() {
    auto backend = std::make_unique<FakeUpdaterBackend>();
    updaterBackend = backend.get();
    updater = std::make_unique<UpdaterManager>(UpdaterManager::Environment{std::move(backend), &settings});
    panel = std::make_unique<PanelView>(session, updater.get());
    panel->resize(Settings::defaultPanelWidth, Settings::defaultPanelHeight);
}

PanelFixture::~PanelFixture() {
    panel.reset();
    updater.reset();
}

void PanelFixture::shoot(const QString& name, QWidget* widget) {
    QTest::qWait(50); // shortened labels ask for a second layout pass, overlays fade in
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY((widget ? widget : panel.get())->grab().save(folder + u'/' + name + QStringLiteral(".png")));
}
