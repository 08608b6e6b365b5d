// The token migration of AgentConfigurationStore::load against the real Secret Service of
// the private test session (gnome-keyring, default collection unlocked).
#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

#include "../keychain/SessionKeyring.h"
#include "ConfigurationTestSupport.h"
#include "config/AgentConfigurationStore.h"
#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

const QString id = QStringLiteral("5a0e7c2d-8f14-4b3e-a6d9-c1f2e3b4a5d6");

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestKeychainTokenMigration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // As the panel runs: no keychain operation may prompt.
        KeychainAgentTokenStore::setUserInteractionAllowed(false);
        fileURL_ = AgentConfigurationStore::defaultURL();
        QVERIFY(QDir().mkpath(QFileInfo(fileURL_).path()));
    }

    void init() {
        SessionKeyring::unlockDefaultCollection();
        SessionKeyring::clearToken();
    }

    void tokenLineMovesIntoTheKeychain() {
        writeTokenFile(validToken(QLatin1Char('M')));
        const AgentConfiguration loaded = store().load();
        QCOMPARE(loaded.token, validToken(QLatin1Char('M')));
        QCOMPARE(SessionKeyring::lookupToken(), validToken(QLatin1Char('M')).toUtf8());
        QVERIFY(!readFile(fileURL_).contains("token"));
        QCOMPARE(store().loadFile().workspaceRoots.size(), 1);
    }

    void keychainTokenWins() {
        SessionKeyring::storeToken(validToken(QLatin1Char('K')).toUtf8());
        writeTokenFile(validToken(QLatin1Char('F')));
        QCOMPARE(store().load().token, validToken(QLatin1Char('K')));
        QCOMPARE(SessionKeyring::lookupToken(), validToken(QLatin1Char('K')).toUtf8());
        QVERIFY(!readFile(fileURL_).contains("token"));
    }

    void lockedKeychainKeepsTheTokenLine() {
        writeTokenFile(validToken(QLatin1Char('L')));
        const QByteArray before = readFile(fileURL_);
        SessionKeyring::lockDefaultCollection();
        try {
            store().load();
            QFAIL("load succeeded with a locked keychain");
        } catch (const AgentTokenStorageError& error) {
            QCOMPARE(error.status(), AgentTokenStorageError::interactionNotAllowed);
        }
        QCOMPARE(readFile(fileURL_), before);
    }

private:
    AgentConfigurationStore store() const {
        return AgentConfigurationStore(fileURL_, std::make_shared<KeychainAgentTokenStore>(false));
    }

    void writeTokenFile(const QString& token) {
        QFile file(fileURL_);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString text = QStringLiteral("token=%1\nworkspace.%2=/srv/a\n").arg(token, id);
        QVERIFY(file.write(text.toUtf8()) > 0);
    }

    QString fileURL_;
};

QTEST_GUILESS_MAIN(TestKeychainTokenMigration)
#include "tst_KeychainTokenMigration.moc"
