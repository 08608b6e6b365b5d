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

// The shared files, in the user's XDG base folders. A variable that is unset or not an absolute
// path counts as unset: its default under $HOME is used.
// $XDG_CONFIG_HOME/quorvane (default ~/.config/quorvane)
QString configurationDirectory();
// $XDG_STATE_HOME/quorvane (default ~/.local/state/quorvane)
QString stateDirectory();
// $XDG_RUNTIME_DIR/quorvane; the state folder when there is no runtime folder.
QString runtimeDirectory();
QString configurationFilePath();
QString healthFilePath();
QString logFilePath();
QString guiSocketPath();

// Values of "status" in the health file.
inline constexpr QLatin1StringView statusStarting{"starting"};
inline constexpr QLatin1StringView statusRunning{"running"};
inline constexpr QLatin1StringView statusNeedsConfiguration{"needs_configuration"};
inline constexpr QLatin1StringView statusError{"error"};
inline constexpr QLatin1StringView statusStopped{"stopped"};

}  // namespace quorvane::AgentContract
