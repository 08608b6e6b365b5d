#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <QWindow>

namespace quorvane {

// One panel per user session. The first panel owns the session bus name ru.quorvane.Panel; a
// later launch asks it to show its window and leaves, so two panels never switch the same agent.
// The bus drops the name with its owner, so a panel that crashed blocks nobody.
class PanelInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static constexpr QLatin1StringView busName{"ru.quorvane.Panel"};
    static constexpr QLatin1StringView objectPath{"/ru/quorvane/Panel"};

    explicit PanelInstance(QDBusConnection bus = QDBusConnection::sessionBus());
    // A panel that is done hands the name on at once, not only when its process ends.
    ~PanelInstance() override;
    PanelInstance(const PanelInstance&) = delete;
    PanelInstance& operator=(const PanelInstance&) = delete;

    // True when this process is the panel: it owns the name, or there is no session bus to
    // share one on. False when another panel holds the name; that panel has been asked to
    // show its window.
    bool claim();

    // Shows, raises and activates the window whenever another launch asks for the panel.
    void bringToFrontOnRequest(QWindow& window);

public Q_SLOTS:
    // org.freedesktop.Application.Activate; platform data may carry the launcher's activation
    // token, which lets a Wayland compositor give this window the focus.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

Q_SIGNALS:
    void activationRequested();

private:
    void askRunningPanelToActivate() const;

    QDBusConnection bus_;
    bool ownsName_ = false;
};

}  // namespace quorvane
