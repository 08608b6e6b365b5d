#include "app/PanelInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPanel)

namespace quorvane {

namespace {

// The running panel answers at once; a hung one must not hold the second launch for long.
constexpr int activateTimeoutMs = 500;

const QString activationTokenKey = QStringLiteral("activation-token");
const char* const activationTokenVariable = "XDG_ACTIVATION_TOKEN";

}  // namespace

PanelInstance::PanelInstance(QDBusConnection bus) : bus_(std::move(bus)) {
    reconnectTimer_.setInterval(reconnectIntervalMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &PanelInstance::reconnectIfLost);
}

PanelInstance::~PanelInstance() {
    if (ownsName()) {
        bus_.unregisterObject(objectPath);
        bus_.unregisterService(busName);
    }
    if (ownsConnection_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
}

bool PanelInstance::claim() {
    if (bus_.isConnected() && !registerName()) {
        askRunningPanelToActivate();
        return false;
    }
    reconnectTimer_.start();
    return true;
}

bool PanelInstance::registerName() {
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus_.interface()->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        qCWarning(lcPanel, "Cannot claim %s: %s", busName.data(),
                  qPrintable(reply.error().message()));
        return true;
    }
    ownsName_ = reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (ownsName_) {
        bus_.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
    }
    return ownsName_;
}

void PanelInstance::reconnectIfLost() {
    const bool sessionBus = ownsConnection_ || bus_.name() == QDBusConnection::sessionBus().name();
    if (bus_.isConnected() || !sessionBus) {
        return;
    }
    const QString name = QStringLiteral("quorvane-panel-") + QString::number(++reconnections_);
    const QDBusConnection fresh = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (!fresh.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return;
    }
    if (ownsConnection_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bus_ = fresh;
    ownsConnection_ = true;
    // Another panel that started while the bus was away keeps the name; this one stays open but
    // leaves leftovers alone.
    ownsName_ = false;
    registerName();
}

void PanelInstance::bringToFrontOnRequest(QWindow& window) {
    connect(this, &PanelInstance::activationRequested, &window, [&window] {
        window.setWindowStates(window.windowStates() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.requestActivate();
    });
}

void PanelInstance::Activate(const QVariantMap& platformData) {
    const QString token = platformData.value(activationTokenKey).toString();
    if (!token.isEmpty()) {
        qputenv(activationTokenVariable, token.toUtf8());
    }
    Q_EMIT activationRequested();
}

void PanelInstance::askRunningPanelToActivate() const {
    QVariantMap platformData;
    const QString token = qEnvironmentVariable(activationTokenVariable);
    if (!token.isEmpty()) {
        platformData.insert(activationTokenKey, token);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        busName, objectPath, QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call.setArguments({platformData});
    const QDBusMessage reply = bus_.call(call, QDBus::Block, activateTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcPanel, "The running panel did not answer: %s",
                  qPrintable(reply.errorMessage()));
    }
}

}  // namespace quorvane
