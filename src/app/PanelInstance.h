#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <QWindow>

namespace quorvane {

// One panel per user session. The first panel owns the session bus name ru.quorvane.Panel; a
// later launch asks it to show its window and leaves, so two panels never switch the same agent.
// The bus drops the name with its owner, so a panel that crashed blocks nobody. When the session
// bus restarts, the panel connects again and claims the name anew.
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
    // Whether this process owns the name now: false while the bus is away, and when another
    // panel took the name meanwhile.
    bool ownsName() const { return ownsName_ && bus_.isConnected(); }

    // Shows, raises and activates the window whenever another launch asks for the panel.
    void bringToFrontOnRequest(QWindow& window);

public Q_SLOTS:
    // org.freedesktop.Application.Activate; platform data may carry the launcher's activation
    // token, which lets a Wayland compositor give this window the focus.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

Q_SIGNALS:
    void activationRequested();

private:
    static constexpr int reconnectIntervalMs = 2000;

    // Registers the name and the object. False only when another process holds the name; a bus
    // that does not answer leaves this process the panel, without the name.
    bool registerName();
    void askRunningPanelToActivate() const;
    // A lost connection never comes back under its name: a new one is made once the bus is back.
    void reconnectIfLost();

    QDBusConnection bus_;
    bool ownsName_ = false;
    bool ownsConnection_ = false;
    int reconnections_ = 0;
    QTimer reconnectTimer_;
};

}  // namespace quorvane
