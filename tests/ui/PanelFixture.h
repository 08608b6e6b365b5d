#pragma once

#include <QTest>
#include <memory>
#include <stdexcept>

#include "tests/support/ViewModelRig.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"

namespace quorvane::testing {

// The real window around the rig's view model, and a driver of that window. The window is
// shown and has run its first refresh when the constructor returns; as a member it goes
// before the view model it shows.
class PanelFixture : public ViewModelRig, public WindowDriver {
public:
    explicit PanelFixture(const PanelScenario& scenario)
        : ViewModelRig(scenario), mainWindow_(std::make_unique<MainWindow>(model())) {
        window_ = &window();
        if (!QTest::qWaitForWindowExposed(&window()) ||
            !QTest::qWaitFor([this] { return controller().refreshCount > 0; })) {
            throw std::runtime_error("the window was not shown and refreshed");
        }
    }

    QQuickWindow& window() { return mainWindow_->window(); }
    bool sheetIsOpen() {
        return window()
            .findChild<QObject*>(QStringLiteral("workspaceSheet"))
            ->property("visible")
            .toBool();
    }

private:
    std::unique_ptr<MainWindow> mainWindow_;
};

}  // namespace quorvane::testing
