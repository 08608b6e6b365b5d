#include "agent/AgentCombinedState.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

// The status card lays its detail out whole: an agent's message of any length is shown by its
// first characters, never splitting a surrogate pair.
constexpr qsizetype shownMessageLength = 1000;

std::optional<QString> bounded(const std::optional<QString>& message) {
    if (!message || message->size() <= shownMessageLength) {
        return message;
    }
    const qsizetype cut = message->at(shownMessageLength - 1).isHighSurrogate()
                              ? shownMessageLength - 1
                              : shownMessageLength;
    return message->first(cut) + u"…"_s;
}

}  // namespace

std::optional<AgentServiceState> settledAgentState(
    const AgentServiceState& registration, bool leaseConnected, const AgentHealthReading& health,
    const std::optional<QDateTime>& registrationBegan) {
    if (registration.kind() != AgentServiceState::Kind::running) {
        return registration;
    }
    if (!leaseConnected) {
        return std::nullopt;
    }
    const std::optional<AgentHealthSnapshot> snapshot = health.readSnapshot();
    if (!snapshot ||
        (snapshot->writtenAt && registrationBegan && *snapshot->writtenAt < *registrationBegan)) {
        return std::nullopt;
    }
    if (snapshot->status == u"running"_s) {
        return AgentServiceState::running();
    }
    if (snapshot->status == u"needs_configuration"_s) {
        return AgentServiceState::needsConfiguration(bounded(snapshot->message));
    }
    if (snapshot->status == u"error"_s) {
        return AgentServiceState::serviceError(
            bounded(snapshot->message).value_or(u"Фоновая служба завершилась с ошибкой"_s));
    }
    return std::nullopt;  // "starting", "stopped" and anything unknown
}

AgentServiceState combinedAgentState(const AgentServiceState& registration, bool leaseConnected,
                                     const AgentHealthReading& health,
                                     const std::optional<QDateTime>& registrationBegan,
                                     AgentStartupClock& clock, const QDateTime& now) {
    if (std::optional<AgentServiceState> settled =
            settledAgentState(registration, leaseConnected, health, registrationBegan)) {
        clock.reset();
        return *std::move(settled);
    }
    return clock.waiting(now);
}

}  // namespace quorvane
