// Where panel and agent meet: the XDG base folders, with their defaults under $HOME.
#include <QTest>

#include "config/AgentContract.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

class TestAgentContract : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void locationsFollowTheBaseFolders_data() {
        QTest::addColumn<QString>("configHome");
        QTest::addColumn<QString>("stateHome");
        QTest::addColumn<QString>("runtimeDirectory");
        QTest::addColumn<QStringList>("expected");  // configuration, health, log, socket

        QTest::newRow("all set") << u"/c"_s << u"/s/"_s << u"/r"_s
                                 << QStringList{u"/c/quorvane/quorvane-agent.conf"_s,
                                                u"/s/quorvane/agent-health.json"_s,
                                                u"/s/quorvane/logs/agent.log"_s,
                                                u"/r/quorvane/agent-gui.sock"_s};
        QTest::newRow("unset: defaults, socket in the state folder")
            << QString() << QString() << QString()
            << QStringList{u"/h/.config/quorvane/quorvane-agent.conf"_s,
                           u"/h/.local/state/quorvane/agent-health.json"_s,
                           u"/h/.local/state/quorvane/logs/agent.log"_s,
                           u"/h/.local/state/quorvane/agent-gui.sock"_s};
        QTest::newRow("relative values count as unset")
            << u"c"_s << u"./s"_s << u"run"_s
            << QStringList{u"/h/.config/quorvane/quorvane-agent.conf"_s,
                           u"/h/.local/state/quorvane/agent-health.json"_s,
                           u"/h/.local/state/quorvane/logs/agent.log"_s,
                           u"/h/.local/state/quorvane/agent-gui.sock"_s};
    }

    void locationsFollowTheBaseFolders() {
        QFETCH(QString, configHome);
        QFETCH(QString, stateHome);
        QFETCH(QString, runtimeDirectory);
        QFETCH(QStringList, expected);
        qputenv("HOME", "/h");
        qputenv("XDG_CONFIG_HOME", configHome.toUtf8());
        qputenv("XDG_STATE_HOME", stateHome.toUtf8());
        qputenv("XDG_RUNTIME_DIR", runtimeDirectory.toUtf8());

        QCOMPARE(
            (QStringList{AgentContract::configurationFilePath(), AgentContract::healthFilePath(),
                         AgentContract::logFilePath(), AgentContract::guiSocketPath()}),
            expected);
    }
};

QTEST_APPLESS_MAIN(TestAgentContract)
#include "tst_AgentContract.moc"
