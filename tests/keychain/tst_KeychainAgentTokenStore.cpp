#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdio>

#include "SessionKeyring.h"
#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"

using namespace quorvane;
using testing::EmptyBus;
using testing::SessionKeyring;
using testing::SilentSecretService;

namespace {

// Far below the store's own deadline: a failure this fast did not wait on a timeout.
constexpr qint64 failFastMilliseconds = 1000;
constexpr const char* childOperationFlag = "--status-of";

enum class Operation { read, save };

void run(Operation operation, const KeychainAgentTokenStore& store) {
    if (operation == Operation::read) {
        store.read();
    } else {
        store.save(QStringLiteral("token"));
    }
}

std::int32_t statusOf(Operation operation, const KeychainAgentTokenStore& store) {
    try {
        run(operation, store);
    } catch (const AgentTokenStorageError& error) {
        return error.status();
    }
    return 0;
}

// The child side of runInChild.
int runChildOperation(const char* operation) {
    const KeychainAgentTokenStore store(false);
    const Operation which = qstrcmp(operation, "save") == 0 ? Operation::save : Operation::read;
    std::printf("%d", statusOf(which, store));
    return 0;
}

}  // namespace

Q_DECLARE_METATYPE(Operation)

class TestKeychainAgentTokenStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        KeychainAgentTokenStore::setUserInteractionAllowed(false);
        if (SessionKeyring::isDefaultCollectionLocked()) {
            SessionKeyring::unlockDefaultCollection();
        }
        SessionKeyring::clearToken();
    }

    void readWithoutItemGivesNoValue() {
        QCOMPARE(KeychainAgentTokenStore(false).read(), std::nullopt);
    }

    void saveAddsThenUpdatesOneItem() {
        const KeychainAgentTokenStore store(false);
        store.save(QStringLiteral("first"));
        const QStringList added = SessionKeyring::tokenItemPaths();
        QCOMPARE(added.size(), 1);

        store.save(QStringLiteral("second"));
        QCOMPARE(SessionKeyring::tokenItemPaths(), added);
        QCOMPARE(store.read(), QStringLiteral("second"));
        QCOMPARE(SessionKeyring::lookupToken(), QByteArray("second"));
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("token");
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("qv1.device-token_0123456789");
        QTest::newRow("cyrillic and emoji") << QStringLiteral("токен-🔑");
        QTest::newRow("leading byte-order mark") << QStringLiteral("\uFEFFtoken");
        QTest::newRow("surrounding blanks and newline") << QStringLiteral(" token \n");
    }

    void roundTrip() {
        QFETCH(QString, token);
        const KeychainAgentTokenStore store(false);
        store.save(token);
        const std::optional<QString> read = store.read();
        QVERIFY(read.has_value());
        QCOMPARE(*read, token);
        QCOMPARE(SessionKeyring::lookupToken(), token.toUtf8());
    }

    void itemOfAnotherToolIsTheToken() {
        SessionKeyring::storeToken("from secret-tool");
        const KeychainAgentTokenStore store(false);
        QCOMPARE(store.read(), QStringLiteral("from secret-tool"));

        store.save(QStringLiteral("replaced"));
        QCOMPARE(SessionKeyring::tokenItemPaths().size(), 1);
        QCOMPARE(SessionKeyring::lookupToken(), QByteArray("replaced"));
    }

    void undecodableSecret_data() {
        QTest::addColumn<QByteArray>("secret");
        QTest::newRow("invalid byte") << QByteArray("tok\xff");
        QTest::newRow("truncated sequence") << QByteArray("tok\xe2\x82");
        QTest::newRow("overlong encoding") << QByteArray("\xc0\xaf");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
    }

    void undecodableSecret() {
        QFETCH(QByteArray, secret);
        SessionKeyring::storeToken(secret);
        try {
            KeychainAgentTokenStore(false).read();
            QFAIL("an undecodable secret was read");
        } catch (const AgentTokenStorageError& error) {
            QCOMPARE(error.status(), -26275);
            QCOMPARE(error.message(),
                     QStringLiteral("Не удалось открыть защищённый токен в хранилище паролей (код "
                                    "-26275). Разблокируйте хранилище паролей и разрешите доступ "
                                    "Quorvane."));
        }
    }

    void lockedCollectionFailsWithoutPrompt_data() {
        QTest::addColumn<bool>("itemExists");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<bool>("allowsAuthenticationUI");
        QTest::addColumn<bool>("interactionAllowed");

        QTest::newRow("read") << true << Operation::read << false << true;
        QTest::newRow("read, process forbids interaction")
            << true << Operation::read << true << false;
        QTest::newRow("save over a locked item") << true << Operation::save << false << true;
        QTest::newRow("save never prompts") << true << Operation::save << true << true;
        QTest::newRow("save into a locked collection") << false << Operation::save << true << true;
    }

    void lockedCollectionFailsWithoutPrompt() {
        QFETCH(bool, itemExists);
        QFETCH(Operation, operation);
        QFETCH(bool, allowsAuthenticationUI);
        QFETCH(bool, interactionAllowed);
        if (itemExists) {
            SessionKeyring::storeToken("token");
        }
        SessionKeyring::lockDefaultCollection();
        KeychainAgentTokenStore::setUserInteractionAllowed(interactionAllowed);

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(statusOf(operation, KeychainAgentTokenStore(allowsAuthenticationUI)), -25308);
        QCOMPARE_LT(timer.elapsed(), failFastMilliseconds);
        QVERIFY(SessionKeyring::isDefaultCollectionLocked());
    }

    // Some providers hide the items of a locked collection, so "nothing found" proves nothing.
    void readWithoutItemInLockedCollectionIsLocked() {
        SessionKeyring::lockDefaultCollection();
        QCOMPARE(statusOf(Operation::read, KeychainAgentTokenStore(false)), -25308);
    }

    // Without a display the desktop has no prompter, so the prompt ends as dismissed.
    void allowedPromptThatIsDismissedIsUserCanceled() {
        SessionKeyring::storeToken("token");
        SessionKeyring::lockDefaultCollection();
        KeychainAgentTokenStore::setUserInteractionAllowed(true);
        QCOMPARE(statusOf(Operation::read, KeychainAgentTokenStore(true)), -128);
    }

    void silentServiceFailsAtTheDeadline_data() {
        QTest::addColumn<QByteArray>("operation");
        QTest::newRow("read") << QByteArray("read");
        QTest::newRow("save") << QByteArray("save");
    }

    // D-Bus's own reply timeout is 25 seconds; the store gives up after a few.
    void silentServiceFailsAtTheDeadline() {
        QFETCH(QByteArray, operation);
        EmptyBus bus;
        SilentSecretService silent(bus.address());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runInChild(operation, bus.address()), QByteArray("-25291"));
        QCOMPARE_LT(timer.elapsed(), 10000);
    }

    void unreachableServiceFailsFast_data() {
        QTest::addColumn<bool>("busRuns");
        QTest::addColumn<QByteArray>("operation");
        QTest::newRow("no bus, read") << false << QByteArray("read");
        QTest::newRow("no bus, save") << false << QByteArray("save");
        QTest::newRow("bus without secret service, read") << true << QByteArray("read");
        QTest::newRow("bus without secret service, save") << true << QByteArray("save");
    }

    void unreachableServiceFailsFast() {
        QFETCH(bool, busRuns);
        QFETCH(QByteArray, operation);
        EmptyBus bus;
        const QString address =
            busRuns ? bus.address() : QStringLiteral("unix:path=/nonexistent/quorvane-bus");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runInChild(operation, address), QByteArray("-25291"));
        QCOMPARE_LT(timer.elapsed(), failFastMilliseconds);
    }

private:
    // The status of one operation in a process of its own, on the given session bus.
    static QByteArray runInChild(const QByteArray& operation, const QString& busAddress) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(childOperationFlag), QString::fromLatin1(operation)});
        if (!child.waitForFinished(30000)) {
            child.kill();
            child.waitForFinished();
        }
        return child.readAllStandardOutput();
    }
};

int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], childOperationFlag) == 0) {
        return runChildOperation(argv[2]);
    }
    QCoreApplication application(argc, argv);
    TestKeychainAgentTokenStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KeychainAgentTokenStore.moc"
