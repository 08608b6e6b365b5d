// Measures AgentServiceController::refresh() (the unit's file state and run state, read
// asynchronously) against the systemd user manager with the agent's unit enabled and running,
// interleaved with a bare GetUnitFileState call on the same bus so that the two figures come
// from the same conditions.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <exception>
#include <functional>
#include <vector>

#include "agent/AgentServiceController.h"
#include "config/AgentContract.h"

using namespace quorvane;

namespace {

constexpr int rounds = 200;

// An install prefix with the built unit template and a stand-in agent that only sleeps.
bool makeBundle(const QString& prefix) {
    const QString agent = prefix + QLatin1Char('/') + AgentContract::bundledAgentPath;
    const QString unit = prefix + QLatin1Char('/') + AgentContract::bundledUnitTemplatePath;
    QFile script(agent);
    return QDir().mkpath(QFileInfo(agent).path()) && QDir().mkpath(QFileInfo(unit).path()) &&
           QFile::copy(
               QStringLiteral(QUORVANE_BUILD_PREFIX "/") + AgentContract::bundledUnitTemplatePath,
               unit) &&
           script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\nexec sleep 600\n") > 0 &&
           script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Runs the event loop until the controller's operation reports; its failure, if any.
std::exception_ptr await(
    const std::function<void(AgentServiceControlling::Completion)>& operation) {
    QEventLoop loop;
    bool reported = false;
    std::exception_ptr failure;
    operation([&](std::exception_ptr result) {
        reported = true;
        failure = result;
        loop.quit();
    });
    if (!reported) {
        loop.exec();
    }
    return failure;
}

void refresh(AgentServiceController& controller) {
    await([&](const AgentServiceControlling::Completion& done) {
        controller.refresh([done] { done(nullptr); });
    });
}

double median(std::vector<qint64> nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return double(nanoseconds[nanoseconds.size() / 2]) / 1000.0;
}

double percentile90(std::vector<qint64> nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return double(nanoseconds[nanoseconds.size() * 9 / 10]) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir prefix;
    if (!prefix.isValid() || !makeBundle(prefix.path())) {
        out << "cannot build the stand-in install prefix\n";
        return 1;
    }
    AgentServiceController controller(prefix.path());
    try {
        if (const std::exception_ptr failure =
                await([&](const auto& done) { controller.start(done); })) {
            std::rethrow_exception(failure);
        }
    } catch (const std::exception& error) {
        out << "cannot switch the agent on: " << error.what() << '\n';
        return 1;
    }
    if (controller.state() != AgentServiceState::running()) {
        out << "unexpected state " << controller.state().kindName() << '\n';
        return 1;
    }

    QDBusMessage query = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("GetUnitFileState"));
    query.setArguments({QString(AgentContract::unitName)});
    QDBusConnection bus = QDBusConnection::sessionBus();

    std::vector<qint64> refreshTimes;
    std::vector<qint64> queryTimes;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        clock.start();
        refresh(controller);
        refreshTimes.push_back(clock.nsecsElapsed());
        clock.start();
        bus.call(query, QDBus::Block, AgentServiceController::defaultCallTimeoutMs);
        queryTimes.push_back(clock.nsecsElapsed());
    }
    const bool stillRunning = controller.state() == AgentServiceState::running();
    await([&](const auto& done) { controller.stop(done); });

    out << "rounds: " << rounds << (stillRunning ? "" : " (state changed while measuring!)")
        << '\n';
    out << "refresh(), unit enabled:     median " << median(refreshTimes) << " us, p90 "
        << percentile90(refreshTimes) << " us\n";
    out << "bare GetUnitFileState call:  median " << median(queryTimes) << " us, p90 "
        << percentile90(queryTimes) << " us\n";
    out << "ratio refresh / bare call:   " << median(refreshTimes) / median(queryTimes) << '\n';
    return stillRunning ? 0 : 1;
}
