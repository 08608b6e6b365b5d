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

PanelInstance::PanelInstance(QDBusConnection bus) : bus_(std::move(bus)) {}

PanelInstance::~PanelInstance() {
    if (ownsName_) {
        bus_.unregisterObject(objectPath);
        bus_.unregisterService(busName);
    }
}

bool PanelInstance::claim() {
    if (!bus_.isConnected()) {
        return true;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus_.interface()->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        qCWarning(lcPanel, "Cannot claim %s: %s", busName.data(),
                  qPrintable(reply.error().message()));
        return true;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        bus_.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
        return true;
    }
    askRunningPanelToActivate();
    return false;
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
