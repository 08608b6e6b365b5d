#include <sys/prctl.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include "BackgroundAgent.h"

int main(int argc, char* argv[]) {
    ::umask(077);  // everything the agent creates is the user's alone
    // The device token passes through the agent: no core dump may hold it.
    ::prctl(PR_SET_DUMPABLE, 0);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));

    quorvane::BackgroundAgent agent;
    agent.start();
    return QCoreApplication::exec();
}
