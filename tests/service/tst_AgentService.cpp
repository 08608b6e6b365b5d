// The service controller against the real systemd --user of a private session. The agent is a
// stand-in in an install prefix whose name needs quoting in the unit (a space, "%h").
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ServiceTestTools.h"
#include "tests/support/EmptyBus.h"
#include "tests/support/SessionTools.h"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

const QString unit = agentUnit();
const QString userUnitFolder = QDir::homePath() + u"/.config/systemd/user"_s;
const Operation start = &AgentServiceController::start, stop = &AgentServiceController::stop,
                allow = &AgentServiceController::allowBackgroundStart;

// An install prefix whose agent appends its PID to a file in its state folder (where its sandbox
// lets it write) and then sleeps as that same process.
struct StandInBundle {
    QTemporaryDir directory{QDir::tempPath() + u"/quorvane prefix %h-XXXXXX"_s};
    const QString agent = directory.filePath(QString(AgentContract::bundledAgentPath));
    const QString started = AgentContract::stateDirectory() + u"/stand-in.started"_s;
    const bool valid = directory.isValid() && (QFile::remove(started) || !QFile::exists(started)) &&
                       writeStandInPrefix(directory.path(), "#!/bin/sh\necho $$ >> '" +
                                                                QFile::encodeName(started) +
                                                                "'\nexec sleep 600\n");

    QStringList startedPids() const {
        return QString::fromLatin1(readFile(started)).split(u'\n', Qt::SkipEmptyParts);
    }
};

bool addDropIn(const QByteArray& settings) {
    return writeFile(userUnitFolder + u'/' + unit + u".d/test.conf"_s, settings) &&
           systemctl({u"daemon-reload"_s}).isEmpty();
}

}  // namespace

class TestAgentService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        bundle_ = std::make_unique<StandInBundle>();
        QVERIFY(bundle_->valid);
    }

    // Every test starts from a manager that knows nothing of the unit.
    void cleanup() {
        if (stoppedManager_ > 0) {
            ::kill(std::exchange(stoppedManager_, 0), SIGCONT);
        }
        QDBusConnection::disconnectFromBus(u"unreachable"_s);
        programOutput(u"umount"_s, {userUnitFolder});
        for (const QString& command :
             {u"unmask"_s, u"unmask --runtime"_s, u"stop"_s, u"disable"_s}) {
            systemctl(command.split(u' ') << unit);
        }
        QFile::remove(AgentServiceController::defaultUserUnitDirectory() + u'/' + unit);
        QDir(userUnitFolder + u'/' + unit + u".d"_s).removeRecursively();
        systemctl({u"daemon-reload"_s});
        systemctl({u"reset-failed"_s, unit});
    }

    // A registration of this panel is its own, one of an earlier panel a leftover; switching
    // on again replaces the running agent either way, and switching off ends it. Where the
    // manager cannot remove the unit's link (a read-only folder) the agent stops, but the panel
    // says it stays enabled.
    void switchesTheAgentOnAgainAndOff_data() {
        QTest::addColumn<bool>("sameController");
        QTest::newRow("on again by this controller") << true;
        QTest::newRow("on again by a later panel, off from a read-only folder") << false;
    }
    void switchesTheAgentOnAgainAndOff() {
        QFETCH(bool, sameController);
        auto first = makeController();
        QCOMPARE(refreshed(*first), AgentServiceState::stopped());  // unknown, but bundled
        QVERIFY(!run(*first, start));
        QCOMPARE(first->state(), AgentServiceState::running());
        QCOMPARE(unitFileState(), u"enabled"_s);
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);

        auto second = sameController ? std::move(first) : makeController();
        QCOMPARE(refreshed(*second),
                 sameController ? AgentServiceState::running() : AgentServiceState::stopped());
        QCOMPARE(second->hasLeftoverRegistration(), !sameController);
        QVERIFY(!run(*second, start));
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 2, agentStartMs);
        QTRY_COMPARE(unitProperty(u"MainPID"_s), bundle_->startedPids().last());
        QVERIFY(!QFileInfo::exists(u"/proc/"_s + bundle_->startedPids().first()));

        if (!sameController) {
            programOutput(u"mount"_s, {u"-o"_s, u"bind,ro"_s, userUnitFolder, userUnitFolder});
            QVERIFY(!QFile(userUnitFolder + u"/probe"_s).open(QIODevice::WriteOnly));
            const auto partial = run(*second, stop);
            QVERIFY(partial && partial->description().contains(u"но остался в автозапуске"_s));
            QCOMPARE(unitProperty(u"ActiveState"_s), u"inactive"_s);
            QCOMPARE(unitFileState(), u"enabled"_s);
            QCOMPARE(second->state().kind(), AgentServiceState::Kind::serviceError);
            return;
        }
        QVERIFY(!run(*second, stop));
        QCOMPARE(second->state(), AgentServiceState::stopped());
        QCOMPARE(unitFileState(), u"disabled"_s);
        QTRY_COMPARE(unitProperty(u"ActiveState"_s), u"inactive"_s);
    }

    // The user's mask shows as such, also over the unit the panel wrote before; the panel lifts
    // it on request without starting the agent. A runtime mask it cannot lift, and names the
    // command that does.
    void maskedUnitCanBeAllowed_data() {
        QTest::addColumn<QString>("mask");
        QTest::newRow("masked by link after the panel's unit") << u"after use"_s;
        QTest::newRow("masked by empty file") << u"empty file"_s;
        QTest::newRow("masked at runtime") << u"--runtime"_s;
    }
    void maskedUnitCanBeAllowed() {
        QFETCH(QString, mask);
        auto controller = makeController();
        if (mask == u"after use") {
            QVERIFY(!run(*controller, start) && !run(*controller, stop));
        }
        if (mask == u"empty file") {
            QVERIFY(writeFile(userUnitFolder + u'/' + unit, {}) && addDropIn({}));
        } else {
            systemctl(QStringList{u"mask"_s, unit} << mask.split(u' ').filter(u"--"_s));
        }
        const qsizetype starts = bundle_->startedPids().size();
        if (mask == u"--runtime") {
            const QString command = u"systemctl --user unmask --runtime "_s + unit;
            QVERIFY(refreshed(*controller).message().value_or(QString()).contains(command));
            QVERIFY(run(*controller, allow).value().description().contains(command));
            QCOMPARE(unitFileState(), u"masked-runtime"_s);
            return;
        }
        QCOMPARE(refreshed(*controller), AgentServiceState::requiresApproval());
        const auto refused = run(*controller, start);
        QVERIFY(refused && refused->kind() == AgentServiceError::Kind::refused);

        QVERIFY(!run(*controller, allow));
        QCOMPARE(controller->state(), AgentServiceState::stopped());
        QCOMPARE(bundle_->startedPids().size(), starts);
        QVERIFY(!run(*controller, start));
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), starts + 1, agentStartMs);
    }

    // systemd refuses the start: the unit must not stay enabled, or the agent would start at
    // the next login. systemd gives up on an agent that keeps failing, or keeps restarting it:
    // the panel says so at once instead of waiting for the agent's report.
    void failingStart_data() {
        QTest::addColumn<QByteArray>("dropIn");
        QTest::newRow("refused") << QByteArray("[Unit]\nRefuseManualStart=yes\n");
        QTest::newRow("failed") << QByteArray();
        QTest::newRow("restarting") << QByteArray(
            "[Unit]\nStartLimitIntervalSec=0\n[Service]\nRestart=always\nRestartSec=3\n");
    }
    void failingStart() {
        QFETCH(QByteArray, dropIn);
        const bool refused = dropIn.contains("Refuse");
        QVERIFY(writeFile(bundle_->agent, "#!/bin/sh\nexit 3\n") && addDropIn(dropIn));
        auto controller = makeController();
        QCOMPARE(bool(run(*controller, start)), refused);
        if (refused) {
            QCOMPARE(unitFileState(), u"disabled"_s);
            QCOMPARE(controller->state(), AgentServiceState::stopped());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(refreshed(*controller).kind(),
                                  AgentServiceState::Kind::serviceError, 5000);
        QVERIFY(controller->state().message().value_or(QString()).contains(
            u"journalctl --user -u "_s + unit));
    }

    // Without the bundled files the panel cannot offer the agent at all.
    void bundleDecidesAnUnknownUnit_data() {
        QTest::addColumn<QString>("change");
        for (const QString& change :
             {u"remove agent"_s, u"not executable"_s, u"folder"_s, u"remove template"_s}) {
            QTest::newRow(qPrintable(change)) << change;
        }
    }
    void bundleDecidesAnUnknownUnit() {
        QFETCH(QString, change);
        const QString agent = bundle_->agent;
        if (change == u"remove template") {
            QVERIFY(QFile::remove(
                bundle_->directory.filePath(QString(AgentContract::bundledUnitTemplatePath))));
        } else if (change == u"not executable") {
            QVERIFY(QFile::setPermissions(agent, QFile::ReadOwner));
        } else {
            QVERIFY(QFile::remove(agent));
            QVERIFY(change != u"folder" ||
                    (QDir().mkdir(agent) &&
                     QFile::setPermissions(agent, QFile::ReadOwner | QFile::ExeOwner)));
        }
        QCOMPARE(refreshed(*makeController()), AgentServiceState::unavailable());
    }

    void unreachableManagerFailsWithinTheTimeout_data() {
        QTest::addColumn<QString>("how");
        for (const QString& how : {u"no bus"_s, u"bus without a manager"_s, u"manager stopped"_s}) {
            QTest::newRow(qPrintable(how)) << how;
        }
    }
    void unreachableManagerFailsWithinTheTimeout() {
        QFETCH(QString, how);
        const EmptyBus emptyBus;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (how == u"no bus") {
            bus = QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_s, u"unreachable"_s);
        } else if (how == u"bus without a manager") {
            bus = QDBusConnection::connectToBus(emptyBus.address(), u"unreachable"_s);
        } else {
            stoppedManager_ = bus.interface()->servicePid(u"org.freedesktop.systemd1"_s);
            QVERIFY(stoppedManager_ > 0 && ::kill(stoppedManager_, SIGSTOP) == 0);
        }
        QCOMPARE(bus.isConnected(), how != u"no bus");
        const int timeoutMs = 500;
        const auto controller = makeController(bus, timeoutMs);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> message = refreshed(*controller).message();
        QVERIFY(message && message->startsWith(u"Нет связи с systemd пользователя: "_s));
        for (const Operation operation : {start, stop, allow}) {
            QVERIFY(run(*controller, operation));
        }
        controller->stopBeforeExit();
        // Far below the 25 s that QtDBus waits without an explicit timeout.
        QVERIFY(clock.elapsed() < 2 * (timeoutMs + 4500));
    }

private:
    static QString unitFileState() { return systemctl({u"is-enabled"_s, unit}); }

    std::unique_ptr<AgentServiceController> makeController(
        const QDBusConnection& bus = QDBusConnection::sessionBus(), int timeoutMs = 10000) const {
        return std::make_unique<AgentServiceController>(
            bundle_->directory.path(), bus, AgentServiceController::defaultUserUnitDirectory(),
            timeoutMs);
    }

    std::unique_ptr<StandInBundle> bundle_;
    pid_t stoppedManager_ = 0;
};

QTEST_GUILESS_MAIN(TestAgentService)
#include "tst_AgentService.moc"
