#pragma once

#include <memory>

#include "tests/support/ViewModelRig.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"

namespace quorvane::testing {

// The real window around the rig's view model, and a driver of that window. The window is
// shown and has run its first refresh when the constructor returns.
class PanelFixture : public ViewModelRig, public WindowDriver {
public:
    explicit PanelFixture(const PanelScenario& scenario);
    ~PanelFixture();

    QQuickWindow& window() { return mainWindow_->window(); }
    bool sheetIsOpen();

private:
    std::unique_ptr<MainWindow> mainWindow_;
};

}  // namespace quorvane::testing
