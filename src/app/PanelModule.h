#pragma once

// The normal mode lives in a module of its own, loaded only when the panel starts, so that the
// executable itself loads no Qt: its token-output mode runs on libsecret and GLib alone.

#ifdef __cplusplus
extern "C" {
#endif

// Relative to the install prefix, like the bundled agent.
#define QUORVANE_PANEL_MODULE_PATH "lib/quorvane/quorvane-panel.so"

// The module's entry point: runPanel under an unmangled name.
#define QUORVANE_PANEL_MODULE_ENTRY "quorvane_run_panel"
int quorvane_run_panel(int* argc, char** argv);

#ifdef __cplusplus
}
#endif
