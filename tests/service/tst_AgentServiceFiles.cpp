#include <sys/stat.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTest>
#include <cerrno>
#include <memory>
#include <optional>

#include "StandInBundle.h"
#include "agent/AgentServiceController.h"
#include "agent/AgentServiceError.h"

using namespace quorvane;

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777
                                                                    : mode_t(-1);
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace

// The bundle check and the writing of the user unit. The bus leads nowhere, so switching on
// always fails: at the write, or after it at the first call to the manager.
class TestAgentServiceFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!StandInBundle::templateText().isEmpty(), "QUORVANE_PREFIX holds no template");
    }

    void init() {
        bundle_ = std::make_unique<StandInBundle>();
        QVERIFY(bundle_->isValid());
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        unitDirectory_ = home_->filePath(QStringLiteral(".local/share/systemd/user"));
    }

    void cleanup() { QDBusConnection::disconnectFromBus(QLatin1String(deadBusName)); }

    void hasBundledService_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("expected");
        QTest::newRow("both files") << QString() << true;
        QTest::newRow("agent missing") << QStringLiteral("remove agent") << false;
        QTest::newRow("agent not executable") << QStringLiteral("agent not executable") << false;
        QTest::newRow("agent is a folder") << QStringLiteral("agent is a folder") << false;
        QTest::newRow("template missing") << QStringLiteral("remove template") << false;
    }

    void hasBundledService() {
        QFETCH(QString, change);
        QFETCH(bool, expected);
        const QString agent = bundle_->agentPath();
        if (change == QLatin1String("remove agent")) {
            QVERIFY(QFile::remove(agent));
        } else if (change == QLatin1String("agent not executable")) {
            QVERIFY(QFile::setPermissions(agent, QFile::ReadOwner | QFile::WriteOwner));
        } else if (change == QLatin1String("agent is a folder")) {
            QVERIFY(QFile::remove(agent) && QDir().mkdir(agent));
            QVERIFY(QFile::setPermissions(agent, QFile::ReadOwner | QFile::ExeOwner));
        } else if (change == QLatin1String("remove template")) {
            QVERIFY(QFile::remove(bundle_->templatePath()));
        }
        QCOMPARE(AgentServiceController::hasBundledService(bundle_->prefix()), expected);
    }

    void writesTheUserUnitBeforeCallingTheManager() {
        AgentServiceController controller = makeController(bundle_->prefix());
        QVERIFY(switchOnFailure(controller));

        const QString unitFile = unitDirectory_ + QStringLiteral("/ru.quorvane.agent.service");
        QFile unit(unitFile);
        QVERIFY(unit.open(QIODevice::ReadOnly));
        const QByteArray text = unit.readAll();
        QCOMPARE(text.count("ExecStart="), 1);
        QVERIFY(text.contains("\nWantedBy=default.target\n"));
        QByteArray quotedAgent = QFile::encodeName(bundle_->agentPath());
        quotedAgent.replace('%', "%%");
        QVERIFY2(text.contains("\nExecStart=\"" + quotedAgent + "\"\n"), text.constData());
        QCOMPARE(modeOf(unitFile), mode_t(0600));
        QCOMPARE(modeOf(unitDirectory_), mode_t(0700));
        QCOMPARE(
            QDir(unitDirectory_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("ru.quorvane.agent.service")});
    }

    void replacesAnOlderUnitButKeepsAMask_data() {
        QTest::addColumn<QString>("existing");
        QTest::newRow("older unit") << QStringLiteral("older unit");
        QTest::newRow("masked by link") << QStringLiteral("link");
        QTest::newRow("masked by empty file") << QStringLiteral("empty file");
    }

    void replacesAnOlderUnitButKeepsAMask() {
        QFETCH(QString, existing);
        const QString unitFile = unitDirectory_ + QStringLiteral("/ru.quorvane.agent.service");
        QVERIFY(QDir().mkpath(unitDirectory_));
        if (existing == QLatin1String("link")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), unitFile));
        } else {
            QVERIFY(writeFile(unitFile, existing == QLatin1String("older unit")
                                            ? "[Service]\nExecStart=/old/agent\n"
                                            : ""));
        }
        AgentServiceController controller = makeController(bundle_->prefix());
        QVERIFY(switchOnFailure(controller));

        const bool masked = existing != QLatin1String("older unit");
        QCOMPARE(QFileInfo(unitFile).isSymLink(), existing == QLatin1String("link"));
        QFile unit(unitFile);
        QVERIFY(unit.open(QIODevice::ReadOnly));
        QCOMPARE(unit.readAll().contains("ExecStart=\""), !masked);
    }

    void failsToWriteTheUnit_data() {
        QTest::addColumn<QString>("bundleName");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("code");
        const QString plainName = QStringLiteral("quorvane-XXXXXX");
        QTest::newRow("template missing")
            << plainName << QStringLiteral("remove template") << ENOENT;
        QTest::newRow("template without ExecStart")
            << plainName << QStringLiteral("template without ExecStart") << EINVAL;
        QTest::newRow("unit folder blocked by a file")
            << plainName << QStringLiteral("block unit folder") << ENOTDIR;
        QTest::newRow("line break in the prefix")
            << QStringLiteral("quorvane\nExecStartPre=-XXXXXX") << QString() << EINVAL;
        // Characters systemd refuses in the unit, even quoted or escaped.
        QTest::newRow("quote in the prefix")
            << QStringLiteral("quorvane\"-XXXXXX") << QString() << EINVAL;
        QTest::newRow("apostrophe in the prefix")
            << QStringLiteral("quorvane'-XXXXXX") << QString() << EINVAL;
        QTest::newRow("backslash in the prefix")
            << QStringLiteral("quorvane\\-XXXXXX") << QString() << EINVAL;
    }

    void failsToWriteTheUnit() {
        QFETCH(QString, bundleName);
        QFETCH(QString, change);
        QFETCH(int, code);
        StandInBundle bundle(bundleName);
        QVERIFY(bundle.isValid());
        if (change == QLatin1String("remove template")) {
            QVERIFY(QFile::remove(bundle.templatePath()));
        } else if (change == QLatin1String("template without ExecStart")) {
            QVERIFY(writeFile(bundle.templatePath(), "[Service]\nType=simple\n"));
        } else if (change == QLatin1String("block unit folder")) {
            QVERIFY(writeFile(home_->filePath(QStringLiteral(".local")), "not a folder"));
        }
        AgentServiceController controller = makeController(bundle.prefix());
        const auto failure = switchOnFailure(controller);
        QVERIFY(isLocationFailure(failure));
        QCOMPARE(failure->code(), code);
        QVERIFY(!QFileInfo::exists(unitDirectory_ + QStringLiteral("/ru.quorvane.agent.service")));
    }

private:
    static constexpr const char* deadBusName = "dead";

    AgentServiceController makeController(const QString& prefix) const {
        const auto bus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                       QLatin1String(deadBusName));
        return AgentServiceController(prefix, bus, unitDirectory_);
    }

    static std::optional<AgentServiceError> switchOnFailure(AgentServiceController& controller) {
        std::optional<AgentServiceError> failure;
        bool reported = false;
        controller.start([&](std::exception_ptr result) {
            reported = true;
            try {
                if (result) {
                    std::rethrow_exception(result);
                }
            } catch (const AgentServiceError& error) {
                failure = error;
            }
        });
        if (!QTest::qWaitFor([&] { return reported; })) {
            qWarning("switching on did not report");
        }
        return failure;
    }

    // Names the unit file it could not write and why.
    bool isLocationFailure(const std::optional<AgentServiceError>& failure) const {
        const QString expectedStart = QStringLiteral("Не удалось записать службу агента ") +
                                      unitDirectory_ +
                                      QStringLiteral("/ru.quorvane.agent.service: ");
        return failure && failure->kind() == AgentServiceError::Kind::locationUpdateFailed &&
               failure->description().startsWith(expectedStart) &&
               failure->description().size() > expectedStart.size() && failure->code() != 0;
    }

    std::unique_ptr<StandInBundle> bundle_;
    std::unique_ptr<QTemporaryDir> home_;
    QString unitDirectory_;
};

QTEST_GUILESS_MAIN(TestAgentServiceFiles)
#include "tst_AgentServiceFiles.moc"
