// Renders the main window in its typical states, and the settings sheet over it in its own,
// into PNG files, for the README and for looking at the window without a desktop:
// quorvane-screenshots <folder>.
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <iostream>

#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

struct Shot {
    QString name;
    PanelScenario scenario;
    std::function<void(PanelFixture&)> prepare;
};

PanelScenario configured(PanelScenario scenario) {
    scenario.token = u"qv_agent_"_s + QString(43, u'x');
    scenario.workspaceRoots = {
        {u"3f2a6c1e-8b1d-4c55-9a0e-2b7f4d9c1a10"_s, u"/home/anna/Документы/Проекты"_s, true},
        {u"9b0c7d2e-1f3a-4e6b-8c5d-7a9e0b1c2d3f"_s, u"/home/anna/Фото"_s, false},
    };
    scenario.agentLog = {
        u"12:00:01  Quorvane Agent 1.0.0 запущен"_s,
        u"12:00:01  Конфигурация прочитана: 2 папки"_s,
        u"12:00:02  Соединение с кабинетом установлено"_s,
        u"12:00:02  Папка 3f2a6c1e… доступна для чтения и записи"_s,
        u"12:00:02  Папка 9b0c7d2e… доступна только для чтения"_s,
        u"12:04:17  Синхронизация завершена: 14 файлов"_s,
    };
    return scenario;
}

PanelScenario registered(const AgentServiceState& state) {
    PanelScenario scenario;
    scenario.registration = state;
    return configured(scenario);
}

PanelScenario chosenFolder(PanelScenario scenario) {
    scenario.chosenFolder = u"/home/anna/Музыка"_s;
    return scenario;
}

// A folder that exists for as long as the program runs, so that saving it succeeds.
PanelScenario existingFolder(PanelScenario scenario) {
    static const QTemporaryDir home;
    scenario.chosenFolder = QDir(home.path()).filePath(u"Музыка"_s);
    QDir().mkpath(*scenario.chosenFolder);
    return scenario;
}

PanelScenario withToken() {
    PanelScenario scenario;
    scenario.token = u"qv_agent_"_s + QString(43, u'x');
    return scenario;
}

PanelScenario lockedKeyring() {
    PanelScenario scenario;
    scenario.keyringLocked = true;
    return scenario;
}

QList<Shot> shots() {
    const auto openLog = [](PanelFixture& panel) {
        panel.model().setLogExpanded(true);
        panel.model().refresh();
    };
    const auto switchOn = [](PanelFixture& panel) {
        panel.controller().startCompletesAtOnce = false;
        panel.model().togglePower();
    };
    // The window keeps the size it takes by itself: it grows with the sheet as far as the
    // screen allows.
    const auto openSheet = [](PanelFixture& panel) {
        panel.model().setWorkspaceSheetPresented(true);
    };
    const auto replaceToken = [=](PanelFixture& panel) {
        openSheet(panel);
        panel.click(u"configuration.replaceToken"_s);
        panel.model().setTokenDraft(u"qv_agent_"_s);
    };
    // Saving a folder: with the agent off the drafts and the refusal stay in the message line;
    // with the agent on the folder joins the saved ones.
    const auto saveFolder = [=](PanelFixture& panel) {
        openSheet(panel);
        panel.model().setWorkspaceRootIDDraft(u"workspace.5d1c0e7a-3b9f-4a62-8e14-c07f2b9d6a31"_s);
        panel.model().selectWorkspaceFolder();
        panel.model().setWorkspaceWriteEnabled(true);
        panel.model().saveWorkspace();
    };
    return {
        {u"stopped"_s, registered(AgentServiceState::stopped()), {}},
        {u"starting"_s, registered(AgentServiceState::running()), {}},
        {u"running"_s, configured(PanelScenario::reporting(u"running"_s)), {}},
        {u"needs-configuration"_s, PanelScenario::reporting(u"needs_configuration"_s), {}},
        {u"requires-approval"_s, registered(AgentServiceState::requiresApproval()), {}},
        {u"log-open"_s, configured(PanelScenario::reporting(u"running"_s)), openLog},
        {u"switching"_s, registered(AgentServiceState::stopped()), switchOn},
        {u"sheet-no-token"_s, {}, openSheet},
        {u"sheet-token-saved"_s, withToken(), openSheet},
        {u"sheet-access-needed"_s, lockedKeyring(), openSheet},
        {u"sheet-replacing"_s, withToken(), replaceToken},
        {u"sheet-folders-and-message"_s, chosenFolder(registered(AgentServiceState::stopped())),
         saveFolder},
        {u"sheet-folder-saved"_s,
         existingFolder(configured(PanelScenario::reporting(u"running"_s))), saveFolder},
    };
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: quorvane-screenshots <folder>\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::cerr << "cannot create " << argv[1] << '\n';
        return 1;
    }
    MainWindow::configureApplication();
    for (const Shot& shot : shots()) {
        PanelFixture panel(shot.scenario);
        if (shot.prepare) {
            shot.prepare(panel);
        }
        // Lets the window grow to its content and the glow settle.
        QTest::qWait(400);
        const QString file = folder.filePath(shot.name + u".png"_s);
        if (!panel.window().grabWindow().save(file)) {
            std::cerr << "cannot write " << file.toStdString() << '\n';
            return 1;
        }
        std::cout << file.toStdString() << '\n';
    }
    return 0;
}
