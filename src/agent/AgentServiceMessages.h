#pragma once

#include <QString>

// The Russian texts of the service controller's states and failures.
namespace quorvane::AgentServiceMessages {

QString unknownUnitState();
QString noServiceManager(const QString& busMessage);
QString agentFailed();
QString agentRestarting();
QString stoppedButEnabled();
QString runtimeMask();
QString persistentMask();
// The stop succeeded but the unit stayed enabled, for the manager's reason.
QString stoppedButLeftEnabled(const QString& reason);

}  // namespace quorvane::AgentServiceMessages
