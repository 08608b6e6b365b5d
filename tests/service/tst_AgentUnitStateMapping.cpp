// What the manager reports of the agent's unit, mapped onto the state the panel shows.
#include <QTest>

#include "agent/AgentServiceMessages.h"
#include "agent/AgentUnitStateMapping.h"

using namespace quorvane;
using namespace quorvane::AgentServiceMessages;
using namespace Qt::StringLiterals;
using Outcome = AgentUnitStatus::Outcome;
using Registration = AgentUnitStateMapping::Registration;
using State = AgentServiceState;

Q_DECLARE_METATYPE(AgentUnitStatus)
Q_DECLARE_METATYPE(Registration)

class TestAgentUnitStateMapping : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapsTheUnitOntoTheState_data() {
        QTest::addColumn<AgentUnitStatus>("status");
        QTest::addColumn<Registration>("registration");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("leftover");
        auto row = [](const char* name, AgentUnitStatus status, Registration registration,
                      State state, bool leftover = false) {
            QTest::newRow(name) << status << registration << state << leftover;
        };
        auto unit = [](auto file, auto active, const char* sub = "", bool job = false) {
            const auto text = [](const char* value) { return QString::fromLatin1(value); };
            return AgentUnitStatus{Outcome::read, text(file), text(active), text(sub), job, 0, {}};
        };
        auto without = [](Outcome outcome, const QString& failure = {}) {
            return AgentUnitStatus{outcome, {}, {}, {}, false, 0, failure};
        };
        const Registration mine{true, false, true}, notMine{false, false, true};
        const auto running = State::running(), stopped = State::stopped();
        const auto failed = State::failed, serviceError = State::serviceError;

        row("unknown unit, bundled", without(Outcome::unknownUnit), mine, stopped);
        row("unknown unit, not bundled", without(Outcome::unknownUnit), {true, false, false},
            State::unavailable());
        row("malformed answer", without(Outcome::malformed), mine, failed(unknownUnitState()));
        row("manager unreachable", without(Outcome::unreachable, u"no bus"_s), mine,
            failed(u"Нет связи с systemd пользователя: no bus"_s));
        row("masked at runtime", unit("masked-runtime", "inactive"), mine, failed(runtimeMask()));
        row("masked", unit("masked", "inactive"), notMine, State::requiresApproval());
        row("masked out of reach", unit("masked", "inactive"), {true, true, true},
            failed(persistentMask()));
        row("leftover running", unit("disabled", "active"), notMine, stopped, true);
        row("leftover enabled", unit("enabled", "inactive"), notMine, stopped, true);
        row("nothing registered", unit("disabled", "inactive"), notMine, stopped);
        row("failed", unit("enabled", "failed"), mine, serviceError(agentFailed()));
        row("restart loop", unit("enabled", "activating", "auto-restart"), mine,
            serviceError(agentRestarting()));
        row("disabled meanwhile", unit("disabled", "active"), mine, stopped);
        row("stopped but enabled", unit("enabled", "inactive"), mine,
            serviceError(stoppedButEnabled()));
        row("start queued", unit("enabled", "inactive", "dead", true), mine, running);
        row("activating at runtime", unit("enabled-runtime", "activating", "start"), mine, running);
        row("reloading", unit("enabled", "reloading"), mine, running);
        row("active", unit("enabled", "active", "running"), mine, running);
    }
    void mapsTheUnitOntoTheState() {
        QFETCH(AgentUnitStatus, status);
        QFETCH(Registration, registration);
        QFETCH(State, state);
        QFETCH(bool, leftover);
        const auto result = AgentUnitStateMapping::map(status, registration);
        QCOMPARE(result.state.kindName(), state.kindName());
        QCOMPARE(result, (AgentUnitStateMapping::Result{state, leftover}));
    }
};

QTEST_GUILESS_MAIN(TestAgentUnitStateMapping)
#include "tst_AgentUnitStateMapping.moc"
