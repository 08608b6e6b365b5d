// The settings sheet driven through the real window, as the panel assembles it, in a private
// session on a virtual display: systemd --user, the session bus, an unlocked keyring, a
// temporary home and the bundled agent. Only the folder chooser is replaced, by one that
// answers at once.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include "app/AgentViewModelFactory.h"
#include "app/PanelLifecycle.h"
#include "config/AgentConfigurationStore.h"
#include "tests/support/SessionTools.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

const QString token = u"qv_agent_"_s + QString(39, u'Q') + u"-_09"_s;
const QString rootID = u"6f1d2c3b-4a5e-4f60-8b7c-9d0e1f2a3b4c"_s;
constexpr int startLimitMs = 22000;

QString configurationText() {
    QFile file(AgentConfigurationStore::defaultURL());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class TestWorkspaceSettingsSession : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    std::unique_ptr<AgentViewModel> model_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::unique_ptr<PanelLifecycle> lifecycle_;
    std::unique_ptr<WindowDriver> window_;

    bool sheetIsOpen() {
        return mainWindow_->window()
            .findChild<QObject*>(u"workspaceSheet"_s)
            ->property("visible")
            .toBool();
    }
    QString textOf(const QString& objectName) {
        return window_->item(objectName)->property("text").toString();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(folder_.isValid());
        QCOMPARE(AgentViewModelFactory::installPrefix(), qEnvironmentVariable("QUORVANE_PREFIX"));
        MainWindow::configureApplication();
        AgentViewModelEnvironment environment = AgentViewModelFactory::environment();
        environment.chooseFolder = [this] { return std::optional(folder_.path()); };
        model_ = AgentViewModelFactory::create(std::move(environment));
        mainWindow_ = std::make_unique<MainWindow>(*model_);
        lifecycle_ = std::make_unique<PanelLifecycle>(mainWindow_->window(), *model_);
        window_ = std::make_unique<WindowDriver>(mainWindow_->window());
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow_->window()));
        // No window manager runs on the virtual display to hand the window the keyboard.
        mainWindow_->window().requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow_->window()));
    }

    void pastedTokenIsSaved() {
        window_->click(u"workspace.configure"_s);
        QTRY_VERIFY(sheetIsOpen());
        QGuiApplication::clipboard()->setText(token);
        window_->click(u"configuration.agentToken"_s);
        window_->press(Qt::Key_V, Qt::ControlModifier);
        window_->click(u"configuration.saveToken"_s);

        QTRY_VERIFY2(window_->shows(u"configuration.tokenSaved"_s),
                     qPrintable(model_->configurationMessage().value_or(u"—"_s)));
        QVERIFY(!window_->shows(u"configuration.agentToken"_s));
        QCOMPARE(programOutput(u"secret-tool"_s, {u"lookup"_s, u"service"_s, u"ru.quorvane.agent"_s,
                                                  u"account"_s, u"device-token"_s}),
                 token);
        QVERIFY(!configurationText().contains(token));
    }

    void agentIsSwitchedOn() {
        window_->click(u"workspace.done"_s);
        QTRY_VERIFY(!sheetIsOpen());
        window_->click(u"agent.powerButton"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            !model_->isChangingState() && systemctl({u"is-active"_s, agentUnit()}) == u"active"_s,
            startLimitMs);
    }

    void chosenFolderIsSavedWritableAndListed() {
        window_->click(u"workspace.configure"_s);
        QTRY_VERIFY(sheetIsOpen());
        window_->click(u"workspace.rootID"_s);
        window_->type(u"workspace."_s + rootID.toUpper());
        window_->click(u"workspace.selectFolder"_s);
        window_->click(u"workspace.writeEnabled"_s);
        window_->click(u"workspace.save"_s);
        // Saved once the manager confirmed that the agent is registered.
        QTRY_COMPARE_WITH_TIMEOUT(model_->workspaceRoots().size(), 1, startLimitMs);

        QQuickItem* row = window_->item(u"workspace.savedRoot."_s + rootID);
        QVERIFY(row->isVisible());
        QCOMPARE(
            WindowDriver::find(row, u"workspace.savedRoot.path"_s)->property("text").toString(),
            folder_.path());
        QVERIFY(textOf(u"configuration.message"_s).startsWith(u"Папка сохранена."_s));
        const QString text = configurationText();
        QVERIFY2(text.contains(u"workspace."_s + rootID + u"="_s + folder_.path() + u"\n"_s) &&
                     text.contains(u"workspace."_s + rootID + u".write=true\n"_s),
                 qPrintable(text));
        // The restarted agent finds the token and the folder.
        QTRY_COMPARE_WITH_TIMEOUT(model_->serviceState(), AgentServiceState::running(),
                                  startLimitMs);
    }

    void removedFolderLeavesListAndFile() {
        QQuickItem* row = window_->item(u"workspace.savedRoot."_s + rootID);
        window_->click(WindowDriver::find(row, u"workspace.savedRoot.remove"_s));
        QTRY_VERIFY(!window_->shows(u"workspace.savedRoots"_s));
        QVERIFY(!configurationText().contains(rootID));
    }

    void closingThePanelStopsTheAgent() {
        mainWindow_->window().close();
        QTRY_COMPARE(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s);
    }
};

QTEST_MAIN(TestWorkspaceSettingsSession)
#include "tst_WorkspaceSettingsSession.moc"
