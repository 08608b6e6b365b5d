#pragma once

namespace quorvane {

// The normal mode: builds the control panel's window and runs the application's main loop until
// the panel quits; returns the process's exit status.
int runPanel(int& argc, char** argv);

}  // namespace quorvane
