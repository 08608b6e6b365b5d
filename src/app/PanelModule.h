#pragma once

#include <QLatin1StringView>

// The normal mode lives in a module of its own, loaded only when the panel starts, so that the
// token-output mode loads Qt Core and the Secret Service client and no GUI library.

// Relative to the install prefix, like the bundled agent.
inline constexpr QLatin1StringView panelModulePath{"lib/quorvane/quorvane-panel.so"};

// The module's entry point: runPanel under an unmangled name.
inline constexpr const char* panelModuleEntry = "quorvane_run_panel";
extern "C" int quorvane_run_panel(int* argc, char** argv);
