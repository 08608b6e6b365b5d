// The agent's sandbox, in a private session of an unprivileged user, as the unit the panel
// writes sets it up: the agent reaches its folders, the bound folders as bound and the token,
// and nothing else of the home. Where the session's systemd cannot create user namespaces, the
// agent runs unconfined instead, and the panel says so once.
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ServiceTestTools.h"
#include "config/AgentConfigurationStore.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentHealthReader.h"
#include "tests/support/SessionTools.h"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

const QString token = u"qv_agent_AbCdEfGhIjKlMnOpQrStUvWxYz0123456789-_AbCdE"_s;
const bool confinable = qEnvironmentVariable("QUORVANE_SESSION_USER_NAMESPACES") != u"none";

}  // namespace

class TestAgentConfinement : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(::geteuid() != 0, "run as an unprivileged user (private-session.sh --user)");
        KeychainAgentTokenStore(false).save(token);
    }

    void cleanup() {
        systemctl({u"stop"_s, agentUnit()});
        systemctl({u"disable"_s, agentUnit()});
        systemctl({u"reset-failed"_s, agentUnit()});
    }

    // A stand-in agent tries what the sandbox allows and reports it in its state folder; a
    // folder whose name needs escaping for systemd is bound as it is named.
    void confinesTheAgentToItsFolders() {
        const QString home = QDir::homePath(),
                      probe = AgentContract::stateDirectory() + u"/probe"_s;
        const QString writable = home + u"/Bound: 100% \"rw\" \\ %h folder"_s,
                      readOnly = home + u"/read only"_s, other = home + u"/other"_s;
        QVERIFY(writeFile(other + u"/secret"_s, "secret") && QDir().mkpath(writable) &&
                QDir().mkpath(readOnly));
        QTemporaryDir prefix;
        // Single quotes keep the bound folder's '"', '\' and '%' as they are.
        const QString script =
            u"#!/bin/sh\n"
            u"exec > '%5.tmp'\n"
            u"echo \"writable=$(touch '%1/w' 2>&1 && echo written)\"\n"
            u"echo \"read-only=$(touch '%2/w' 2>&1 && echo written)\"\n"
            u"echo \"other=$(ls '%3' 2>&1)\"\n"
            u"echo \"token=$('%4/bin/quorvane' --read-agent-token)\"\n"
            u"mv '%5.tmp' '%5'\n"
            u"exec sleep 600\n"_s;
        QVERIFY(writeStandInPrefix(
            prefix.path(),
            QFile::encodeName(script.arg(writable, readOnly, other, prefix.path(), probe))));
        // The token mode from the stand-in's own prefix, as the agent runs it: the sandbox shows
        // the prefix and hides a build tree under /tmp.
        QVERIFY(QDir().mkpath(prefix.path() + u"/bin"_s) &&
                QFile::copy(qEnvironmentVariable("QUORVANE_PREFIX") + u"/bin/quorvane"_s,
                            prefix.path() + u"/bin/quorvane"_s));
        AgentServiceController controller(
            prefix.path(), QDBusConnection::sessionBus(),
            AgentServiceController::defaultUserUnitDirectory(), 10000, [&] {
                return QList<WorkspaceRootConfiguration>{{u"1"_s, writable, true},
                                                         {u"2"_s, readOnly, false}};
            });
        // Twice: the unit is written anew at every start, and an unconfined agent reported once.
        const QRegularExpression unconfined(u"could not confine the agent"_s);
        QTest::failOnWarning(unconfined);
        if (!confinable) {
            QTest::ignoreMessage(QtWarningMsg, unconfined);  // the one report; a second fails
        }
        for (int round = 0; round < 2; ++round) {
            QFile::remove(probe);
            QVERIFY(!run(controller, &AgentServiceController::start));
            QTRY_VERIFY_WITH_TIMEOUT((refreshed(controller), QFile::exists(probe)), agentStartMs);
            QCOMPARE(refreshed(controller), AgentServiceState::running());
            const QStringList found = QString::fromUtf8(readFile(probe)).split(u'\n');
            QCOMPARE(found.value(0), u"writable=written"_s);
            QCOMPARE(found.value(1).contains(u"Read-only file system"_s), confinable);
            QCOMPARE(found.value(2).endsWith(u"No such file or directory"_s), confinable);
            QCOMPARE(found.value(3), u"token="_s + token);
        }
        if (confinable) {
            const QString analysis =
                programOutput(u"systemd-analyze"_s, {u"--user"_s, u"security"_s, agentUnit()});
            const QRegularExpressionMatch exposure =
                QRegularExpression(u"Overall exposure level for \\S+: ([0-9.]+)"_s).match(analysis);
            QVERIFY2(exposure.hasMatch() && exposure.captured(1).toDouble() <= 2.5,
                     qPrintable(analysis));
        }
    }

    // The built agent in its sandbox reads its configuration, gets the token from the panel's
    // token mode and reports itself running.
    void theBundledAgentRunsInItsSandbox() {
        const QString folder = QDir::homePath() + u"/Проект"_s;
        QVERIFY(QDir().mkpath(folder));
        const AgentConfigurationStore store(AgentConfigurationStore::defaultURL(),
                                            std::make_shared<KeychainAgentTokenStore>(false));
        store.upsertWorkspace(u"0d4c0a6e-8a34-4b5e-9a61-3f3b2d1c0b9a"_s, folder, true);
        AgentServiceController controller(qEnvironmentVariable("QUORVANE_PREFIX"),
                                          QDBusConnection::sessionBus(),
                                          AgentServiceController::defaultUserUnitDirectory(), 10000,
                                          [store] { return store.loadFile().workspaceRoots; });
        QVERIFY(!run(controller, &AgentServiceController::start));
        const AgentHealthReader health(AgentContract::healthFilePath());
        QTRY_COMPARE_WITH_TIMEOUT(
            (refreshed(controller), health.readSnapshot().value_or(AgentHealthSnapshot{}).status),
            u"running"_s, agentStartMs);
        QCOMPARE(refreshed(controller), AgentServiceState::running());
    }
};

QTEST_GUILESS_MAIN(TestAgentConfinement)
#include "tst_AgentConfinement.moc"
