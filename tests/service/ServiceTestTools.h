#pragma once

#include <QDir>
#include <QFile>
#include <QTest>
#include <exception>
#include <optional>

#include "agent/AgentServiceController.h"
#include "agent/AgentServiceError.h"
#include "config/AgentContract.h"

// Files the service tests set up, and the controller's answers waited for as its callers do.
namespace quorvane::testing {

using namespace Qt::StringLiterals;
using Operation = void (AgentServiceController::*)(AgentServiceControlling::Completion);

constexpr int agentStartMs = 20000;

inline bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An install prefix with the built unit template and, as its agent, the script given.
inline bool writeStandInPrefix(const QString& prefix, const QByteArray& agentScript) {
    const QString unitTemplate = u'/' + QString(AgentContract::bundledUnitTemplatePath);
    const QString agent = prefix + u'/' + QString(AgentContract::bundledAgentPath);
    const QByteArray built = readFile(qEnvironmentVariable("QUORVANE_PREFIX") + unitTemplate);
    return !built.isEmpty() && writeFile(prefix + unitTemplate, built) &&
           writeFile(agent, agentScript) &&
           QFile::setPermissions(agent, QFile::ReadOwner | QFile::ExeOwner);
}

// What the operation reported once the event loop delivered it: nothing, or its failure.
inline std::optional<AgentServiceError> run(AgentServiceController& controller,
                                            Operation operation) {
    std::optional<std::exception_ptr> result;
    (controller.*operation)([&](std::exception_ptr failure) { result = failure; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, agentStartMs)) {
        qFatal("the controller did not report");
    }
    try {
        if (*result) {
            std::rethrow_exception(*result);
        }
    } catch (const AgentServiceError& error) {
        return error;
    }
    return std::nullopt;
}

inline AgentServiceState refreshed(AgentServiceController& controller) {
    bool done = false;
    controller.refresh([&] { done = true; });
    if (!QTest::qWaitFor([&] { return done; }, agentStartMs)) {
        qFatal("the refresh did not end");
    }
    return controller.state();
}

}  // namespace quorvane::testing
