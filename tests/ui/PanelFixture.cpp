#include "tests/ui/PanelFixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

#include "agent/AgentGUILease.h"
#include "config/AgentConfigurationStore.h"
#include "tests/support/FakeHealthReader.h"
#include "tests/support/FakeLogReader.h"
#include "tests/support/FakeTokenStore.h"

namespace quorvane::testing {

namespace {

// A socket that accepts the lease's connection into its backlog; that is all the lease needs.
int listenAt(const QString& path) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = path.toLocal8Bit();
    if (descriptor < 0 || encoded.size() >= qsizetype(sizeof(address.sun_path))) {
        throw std::runtime_error("cannot create the agent's socket");
    }
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(descriptor, 16) != 0) {
        ::close(descriptor);
        throw std::runtime_error("cannot listen on the agent's socket");
    }
    return descriptor;
}

}  // namespace

PanelScenario PanelScenario::reporting(const QString& status, std::optional<QString> message) {
    PanelScenario scenario;
    scenario.registration = AgentServiceState::running();
    scenario.agentListening = true;
    scenario.health = AgentHealthSnapshot{QStringLiteral("1.0.0"), status, std::move(message),
                                          QStringLiteral("2025-01-01T00:00:00Z")};
    return scenario;
}

PanelFixture::PanelFixture(const PanelScenario& scenario) {
    if (!home_.isValid()) {
        throw std::runtime_error("no temporary folder");
    }
    const QString socketPath = home_.filePath(QStringLiteral("agent-gui.sock"));
    if (scenario.agentListening) {
        listener_ = listenAt(socketPath);
    }

    auto tokens = std::make_shared<FakeTokenStore>(scenario.token);
    tokens->refusesRead = scenario.keyringLocked;
    tokens->refusesSave = scenario.keyringRefusesSave;
    AgentConfigurationStore store(home_.filePath(QStringLiteral("quorvane-agent.conf")),
                                  scenario.tokenStore ? scenario.tokenStore : std::move(tokens));
    if (!scenario.workspaceRoots.isEmpty()) {
        store.save(AgentConfiguration{std::nullopt, scenario.workspaceRoots});
    }

    AgentViewModelEnvironment environment;
    environment.now = [] { return QDateTime::currentDateTime(); };
    environment.chooseFolder = scenario.chooseFolder
                                   ? scenario.chooseFolder
                                   : [folder = scenario.chosenFolder] { return folder; };
    environment.shortVersion = scenario.shortVersion;
    environment.buildNumber = scenario.buildNumber;
    environment.fullUserName = scenario.fullUserName;
    environment.userName = scenario.userName;

    auto controller = std::make_unique<FakeServiceController>(scenario.registration);
    controller_ = controller.get();
    model_ = std::make_unique<AgentViewModel>(
        std::move(controller), std::make_unique<AgentGUILease>(socketPath),
        std::make_unique<FakeHealthReader>(scenario.health),
        std::make_unique<FakeLogReader>(scenario.agentLog), std::move(store),
        scenario.authorizeToken, std::move(environment));
    // The token's state arrives from a worker; every load publishes it.
    QSignalSpy loaded(model_.get(), &AgentViewModel::tokenStatusChanged);
    mainWindow_ = std::make_unique<MainWindow>(*model_);
    window_ = &window();
    if (!loaded.wait(5000) || !QTest::qWaitForWindowExposed(&window()) ||
        !QTest::qWaitFor([this] { return controller_->refreshCount > 0; })) {
        throw std::runtime_error("the window was not shown and refreshed");
    }
}

PanelFixture::~PanelFixture() {
    mainWindow_.reset();
    model_.reset();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

bool PanelFixture::sheetIsOpen() {
    return window()
        .findChild<QObject*>(QStringLiteral("workspaceSheet"))
        ->property("visible")
        .toBool();
}

}  // namespace quorvane::testing
