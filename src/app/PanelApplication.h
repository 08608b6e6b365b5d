#pragma once

namespace quorvane {

// The control panel in its normal mode: builds the view model and the window, runs the event
// loop and returns the exit status.
int runPanel(int& argc, char** argv);

}  // namespace quorvane
