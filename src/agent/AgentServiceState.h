#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

namespace quorvane {

// The agent's state as shown to the user. Exposed to QML as a value type.
class AgentServiceState {
    Q_GADGET
    Q_PROPERTY(QString kindName READ kindName)
    Q_PROPERTY(QString title READ title)
    Q_PROPERTY(QString message READ messageOrEmpty)
    Q_PROPERTY(bool hasMessage READ hasMessage)
    Q_PROPERTY(bool isSwitchedOn READ isSwitchedOn)

public:
    enum class Kind {
        needsConfiguration,  // optional message
        serviceError,        // message
        failed,              // message
        stopped,
        starting,
        running,
        requiresApproval,
        unavailable,
    };
    Q_ENUM(Kind)

    AgentServiceState() = default;  // stopped

    static AgentServiceState needsConfiguration(std::optional<QString> message = std::nullopt);
    static AgentServiceState serviceError(QString message);
    static AgentServiceState failed(QString message);
    static AgentServiceState stopped();
    static AgentServiceState starting();
    static AgentServiceState running();
    static AgentServiceState requiresApproval();
    static AgentServiceState unavailable();

    Kind kind() const { return kind_; }
    // The case name as written above ("needsConfiguration", "running", ...).
    QString kindName() const;
    const std::optional<QString>& message() const { return message_; }
    QString title() const;
    bool isSwitchedOn() const;

    friend bool operator==(const AgentServiceState&, const AgentServiceState&) = default;

private:
    AgentServiceState(Kind kind, std::optional<QString> message);

    QString messageOrEmpty() const { return message_.value_or(QString()); }
    bool hasMessage() const { return message_.has_value(); }

    Kind kind_ = Kind::stopped;
    std::optional<QString> message_;
};

}  // namespace quorvane

Q_DECLARE_METATYPE(quorvane::AgentServiceState)
