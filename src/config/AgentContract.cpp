#include "config/AgentContract.h"

#include <QDir>

namespace quorvane::AgentContract {

QString homePath(QLatin1StringView relative) {
    return QDir::homePath() + QLatin1Char('/') + relative;
}

}  // namespace quorvane::AgentContract
