#pragma once

#include <QLatin1StringView>
#include <QString>

// What the panel and the background agent agree on: names, locations and status words.
namespace quorvane::AgentContract {

// The only argument that turns the panel executable into the agent's token source.
inline constexpr QLatin1StringView readAgentTokenArgument{"--read-agent-token"};

// The device token's item in the secret store.
inline constexpr QLatin1StringView tokenService{"ru.quorvane.agent"};
inline constexpr QLatin1StringView tokenAccount{"device-token"};

// The agent's per-user service unit.
inline constexpr QLatin1StringView unitName{"ru.quorvane.agent.service"};

// Relative to the install prefix (the parent of the folder holding the panel executable).
inline constexpr QLatin1StringView bundledAgentPath{"libexec/quorvane/quorvane-agent"};
inline constexpr QLatin1StringView bundledUnitTemplatePath{
    "lib/systemd/user/ru.quorvane.agent.service"};

// Relative to the user's home folder.
inline constexpr QLatin1StringView dataDirectory{"Library/Application Support/Quorvane"};
inline constexpr QLatin1StringView configurationFile{
    "Library/Application Support/Quorvane/quorvane-agent.conf"};
inline constexpr QLatin1StringView healthFile{
    "Library/Application Support/Quorvane/agent-health.json"};
inline constexpr QLatin1StringView logFile{"Library/Application Support/Quorvane/logs/agent.log"};
inline constexpr QLatin1StringView guiSocket{"Library/Application Support/Quorvane/agent-gui.sock"};

// Values of "status" in the health file.
inline constexpr QLatin1StringView statusStarting{"starting"};
inline constexpr QLatin1StringView statusRunning{"running"};
inline constexpr QLatin1StringView statusNeedsConfiguration{"needs_configuration"};
inline constexpr QLatin1StringView statusError{"error"};
inline constexpr QLatin1StringView statusStopped{"stopped"};

// `relative` under the current user's home folder ($HOME is honoured).
QString homePath(QLatin1StringView relative);

}  // namespace quorvane::AgentContract
