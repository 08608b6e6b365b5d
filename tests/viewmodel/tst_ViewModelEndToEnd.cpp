// The view model with every real backend and the bundled agent, inside a private session:
// systemd --user, the session bus, an unlocked keyring and a temporary home.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "agent/AgentServiceController.h"
#include "agent/AgentViewModel.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"
#include "tests/support/SessionTools.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;
using Kind = AgentServiceState::Kind;

namespace {

const QString validToken = u"qv_agent_"_s + QString(43, u'x');
const QString rootID = u"0b6a3d1e-5f2c-4e8a-9d7b-1c2e3f4a5b6c"_s;
constexpr int startUpLimitMs = 20000;

bool agentProcessRuns(const QString& agentPath) {
    const QString agent = QFileInfo(agentPath).canonicalFilePath();
    const QStringList processes = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& process : processes) {
        if (QFileInfo(u"/proc/"_s + process + u"/exe"_s).symLinkTarget() == agent) {
            return true;
        }
    }
    return false;
}

}  // namespace

class TestViewModelEndToEnd : public QObject {
    Q_OBJECT

private:
    QString prefix_ = qEnvironmentVariable("QUORVANE_PREFIX");
    QTemporaryDir folders_;
    std::unique_ptr<AgentViewModel> model_;

    // Refreshes as the window does, only faster, until the state is shown by an agent process
    // other than `previousProcess` and no operation runs.
    bool reaches(Kind kind, qint64 previousProcess = 0) {
        const QDeadlineTimer deadline(startUpLimitMs + 2000);
        do {
            model_->refresh();
            const qint64 process = agentProcessID();
            if (!model_->isChangingState() && model_->serviceState().kind() == kind &&
                process != 0 && process != previousProcess) {
                return true;
            }
            QTest::qWait(200);
        } while (!deadline.hasExpired());
        qWarning() << "last state:" << model_->serviceState().kindName()
                   << model_->serviceState().message().value_or(QString());
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(folders_.isValid());
        QVERIFY(!prefix_.isEmpty());
        AgentViewModelEnvironment environment = AgentViewModelEnvironment::system();
        environment.chooseFolder = [this] { return std::optional(folders_.path()); };
        auto controller = std::make_unique<AgentServiceController>(prefix_);
        model_ = std::make_unique<AgentViewModel>(
            std::move(controller), std::make_unique<AgentGUILease>(),
            std::make_unique<AgentHealthReader>(), std::make_unique<AgentLogReader>(),
            AgentConfigurationStore(AgentConfigurationStore::defaultURL(),
                                    std::make_shared<KeychainAgentTokenStore>(false)),
            AgentViewModel::defaultAuthorizeToken(), environment);
        QCOMPARE(model_->serviceState(), AgentServiceState::stopped());
    }

    void switchingOnWithoutTokenNeedsConfiguration() {
        model_->togglePower();
        QVERIFY(QTest::qWaitFor([this] { return !model_->isChangingState(); }, startUpLimitMs));
        const Kind shown = model_->serviceState().kind();
        QVERIFY2(shown == Kind::starting || shown == Kind::needsConfiguration,
                 qPrintable(model_->serviceState().kindName()));

        QVERIFY(reaches(Kind::needsConfiguration));
    }

    void storingTheTokenRestartsTheAgent() {
        const qint64 before = agentProcessID();
        model_->setTokenDraft(validToken);

        QVERIFY(model_->saveToken());

        QTRY_VERIFY(model_->hasSavedToken());
        QVERIFY(reaches(Kind::needsConfiguration, before));
    }

    void savingAFolderRestartsTheAgentIntoRunning() {
        const qint64 before = agentProcessID();
        model_->setWorkspaceRootIDDraft(rootID);
        model_->selectWorkspaceFolder();

        model_->saveWorkspace();

        // Saved once the manager confirmed that the agent is registered.
        QTRY_COMPARE_WITH_TIMEOUT(model_->workspaceRoots().size(), 1, startUpLimitMs);
        QFile configuration(AgentConfigurationStore::defaultURL());
        QVERIFY(configuration.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(configuration.readAll());
        QVERIFY2(text.contains(u"workspace."_s + rootID + u"="_s + folders_.path()),
                 qPrintable(text));
        QVERIFY(reaches(Kind::running, before));
    }

    void shutdownStopsTheAgent() {
        const QString agentPath = prefix_ + u"/libexec/quorvane/quorvane-agent"_s;
        QVERIFY(agentProcessRuns(agentPath));

        model_->shutdown();

        QCOMPARE(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s);
        QVERIFY(QTest::qWaitFor([&] { return !agentProcessRuns(agentPath); }, 10000));
    }
};

QTEST_GUILESS_MAIN(TestViewModelEndToEnd)
#include "tst_ViewModelEndToEnd.moc"
