#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <thread>

#include "ConfigurationTestSupport.h"
#include "SaveLoopConfigurations.h"
#include "config/AgentConfigurationStore.h"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

std::unique_ptr<QProcess> startSaveLoop(const QString& fileURL, const QString& firstTurn) {
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(SAVE_LOOP_EXECUTABLE), {fileURL, firstTurn});
    return process;
}

bool isOneOfTheTwo(const AgentConfiguration& configuration) {
    return configuration == SaveLoop::first() || configuration == SaveLoop::second();
}

QStringList leftoverTemporaryFiles(const QString& directory) {
    return QDir(directory).entryList({QStringLiteral(".quorvane-agent-conf-*.tmp")},
                                     QDir::Files | QDir::Hidden);
}

}  // namespace

class TestAgentConfigurationCrash : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch_->isValid());
        fileURL_ = scratch_->filePath(QStringLiteral("Quorvane/quorvane-agent.conf"));
        store().save(SaveLoop::first());
    }

    // SIGKILL at random moments of a save loop: the file is always one whole configuration,
    // and the temporary files a kill leaves behind are never read.
    void killedSavesLeaveTheOldOrTheNewFile() {
        QRandomGenerator random(4242);
        int changes = 0;
        AgentConfiguration previous = SaveLoop::first();
        for (int round = 0; round < 200; ++round) {
            const auto saver = startSaveLoop(
                fileURL_, round % 2 ? QStringLiteral("second") : QStringLiteral("first"));
            QVERIFY2(saver->waitForReadyRead(10000), "the save loop did not start");
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(8000)));
            saver->kill();
            QVERIFY(saver->waitForFinished(10000));

            const AgentConfiguration current = store().loadFile();
            QVERIFY2(isOneOfTheTwo(current), qPrintable(QStringLiteral("round %1").arg(round)));
            changes += current != previous;
            previous = current;
        }
        const QStringList leftovers =
            leftoverTemporaryFiles(scratch_->filePath(QStringLiteral("Quorvane")));
        qInfo("%d of 200 kills changed the file; %lld temporary files were left behind", changes,
              qlonglong(leftovers.size()));
        QVERIFY(changes > 0);
    }

    // Two writers at once and a reader between them: every read is one whole configuration.
    void concurrentSavesNeverCorruptTheFile() {
        const auto first = startSaveLoop(fileURL_, QStringLiteral("first"));
        const auto second = startSaveLoop(fileURL_, QStringLiteral("second"));
        QVERIFY(first->waitForReadyRead(10000));
        QVERIFY(second->waitForReadyRead(10000));
        QElapsedTimer clock;
        clock.start();
        int reads = 0;
        while (clock.elapsed() < 1500) {
            QVERIFY(isOneOfTheTwo(store().loadFile()));
            ++reads;
        }
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(second->state(), QProcess::Running);
        first->kill();
        second->kill();
        QVERIFY(first->waitForFinished(10000));
        QVERIFY(second->waitForFinished(10000));
        QVERIFY(isOneOfTheTwo(store().loadFile()));
        qInfo("%d reads during concurrent saves, all whole", reads);
    }

private:
    AgentConfigurationStore store() const {
        return AgentConfigurationStore(fileURL_, std::make_shared<FakeTokenStore>());
    }

    std::unique_ptr<QTemporaryDir> scratch_;
    QString fileURL_;
};

QTEST_GUILESS_MAIN(TestAgentConfigurationCrash)
#include "tst_AgentConfigurationCrash.moc"
