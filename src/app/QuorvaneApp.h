#pragma once

// The entry of `bin/quorvane`, in C on purpose: the executable loads no Qt, so the agent gets its
// token as fast as from `secret-tool`, and the help and the version need no display. The window
// is in the panel module, loaded only in the normal mode.

#ifdef __cplusplus
extern "C" {
#endif

// The only argument that turns the executable into the agent's token source.
#define QUORVANE_READ_AGENT_TOKEN_ARGUMENT "--read-agent-token"

typedef enum {
    QUORVANE_MODE_PANEL,
    QUORVANE_MODE_TOKEN_OUTPUT,
    QUORVANE_MODE_HELP,
    QUORVANE_MODE_VERSION,
} QuorvaneMode;

// Exactly the program path and one flag, compared as whole strings; every other command line is
// the panel.
QuorvaneMode quorvane_mode_for(int argc, const char* const* argv);

// Runs the mode the command line asks for and returns the exit status. The token-output mode
// ends the process instead: status 0 with the token's bytes (nothing when none is stored) on
// standard output, 1 when the store or the write failed.
int quorvane_app_run(int argc, char** argv);

#ifdef __cplusplus
}
#endif
