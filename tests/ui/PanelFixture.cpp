#include "tests/ui/PanelFixture.h"

#include <QTest>
#include <stdexcept>

namespace quorvane::testing {

PanelFixture::PanelFixture(const PanelScenario& scenario) : ViewModelRig(scenario) {
    mainWindow_ = std::make_unique<MainWindow>(model());
    window_ = &window();
    if (!QTest::qWaitForWindowExposed(&window()) ||
        !QTest::qWaitFor([this] { return controller().refreshCount > 0; })) {
        throw std::runtime_error("the window was not shown and refreshed");
    }
}

PanelFixture::~PanelFixture() {
    mainWindow_.reset();
}

bool PanelFixture::sheetIsOpen() {
    return window()
        .findChild<QObject*>(QStringLiteral("workspaceSheet"))
        ->property("visible")
        .toBool();
}

}  // namespace quorvane::testing
