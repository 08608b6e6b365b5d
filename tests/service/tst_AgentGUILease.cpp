#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <future>
#include <memory>

#include "agent/AgentGUILease.h"

using namespace quorvane;

namespace {

// The agent's end: a listening socket at a path, as the agent would make it.
class Listener {
public:
    Listener(const QString& path, int backlog = 8) {
        const QByteArray encoded = path.toUtf8();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        // Linux accepts a path that fills sun_path without a terminating NUL.
        if (size_t(encoded.size()) > sizeof address.sun_path) {
            return;
        }
        std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
        descriptor_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(encoded.size()));
        if (::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(descriptor_, backlog) != 0) {
            close();
        }
    }
    ~Listener() { close(); }

    bool isListening() const { return descriptor_ >= 0; }
    // The next waiting connection, or -1 when none is waiting.
    int accept() const { return ::accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC); }
    void close() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }

private:
    int descriptor_ = -1;
};

bool peerClosed(int connection) {
    char byte = 0;
    return ::recv(connection, &byte, 1, MSG_DONTWAIT) == 0;
}

bool nothingToRead(int connection) {
    char byte = 0;
    return ::recv(connection, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
}

}  // namespace

class TestAgentGUILease : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void socketPathIsInTheRuntimeFolder() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        QCOMPARE(AgentGUILease::socketPath(),
                 runtime.path() + QStringLiteral("/quorvane/agent-gui.sock"));
    }

    void init() {
        directory_ = std::make_unique<QTemporaryDir>();
        QVERIFY(directory_->isValid());
        path_ = directory_->filePath(QStringLiteral("agent-gui.sock"));
    }

    void connectsToTheListeningAgent() {
        Listener agent(path_);
        AgentGUILease lease(path_);
        QVERIFY(!lease.isConnected());
        lease.update(true);
        QVERIFY(lease.isConnected());
        QVERIFY(agent.accept() >= 0);
    }

    void keepsTheConnectionWhileTheAgentWritesIntoIt() {
        Listener agent(path_);
        AgentGUILease lease(path_);
        lease.update(true);
        const int connection = agent.accept();
        QVERIFY(connection >= 0);
        QCOMPARE(::send(connection, "hello", 5, MSG_NOSIGNAL), ssize_t(5));

        lease.update(true);
        lease.update(true);
        QVERIFY(lease.isConnected());
        QCOMPARE(agent.accept(), -1);  // no second connection was made
        QVERIFY(nothingToRead(connection));
        ::close(connection);
    }

    void reconnectsInTheSameCallAfterTheAgentClosed_data() {
        QTest::addColumn<QByteArray>("writtenBeforeClosing");
        QTest::newRow("silent agent") << QByteArray();
        QTest::newRow("data left unread") << QByteArrayLiteral("bye");
    }

    void reconnectsInTheSameCallAfterTheAgentClosed() {
        QFETCH(QByteArray, writtenBeforeClosing);
        Listener agent(path_);
        AgentGUILease lease(path_);
        lease.update(true);
        const int first = agent.accept();
        QVERIFY(first >= 0);
        ::send(first, writtenBeforeClosing.constData(), size_t(writtenBeforeClosing.size()),
               MSG_NOSIGNAL);
        ::close(first);

        lease.update(true);
        QVERIFY(lease.isConnected());
        const int second = agent.accept();
        QVERIFY(second >= 0);
        ::close(second);
    }

    void staysDisconnectedWithoutAListener_data() {
        QTest::addColumn<bool>("socketFileLeftBehind");
        QTest::newRow("no socket file") << false;
        QTest::newRow("nobody listening") << true;
    }

    void staysDisconnectedWithoutAListener() {
        QFETCH(bool, socketFileLeftBehind);
        if (socketFileLeftBehind) {
            Listener(path_).close();
            QVERIFY(QFileInfo::exists(path_));
        }
        AgentGUILease lease(path_);
        lease.update(true);
        QVERIFY(!lease.isConnected());
        lease.update(true);
        QVERIFY(!lease.isConnected());
    }

    void doesNotWaitForAnAgentWithAFullBacklog() {
        Listener agent(path_, 0);
        // One connection fills a backlog of zero; a blocking connect would now wait.
        const int waiting = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.toUtf8().constData());
        QCOMPARE(::connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

        AgentGUILease lease(path_);
        auto attempt = std::async(std::launch::async, [&lease] { lease.update(true); });
        const bool returned =
            attempt.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!returned) {
            ::close(agent.accept());  // frees the backlog, so the stuck connect ends
        }
        attempt.wait();
        QVERIFY(returned);
        QVERIFY(!lease.isConnected());

        ::close(agent.accept());
        lease.update(true);
        QVERIFY(lease.isConnected());
        ::close(waiting);
    }

    void connectsOnlyWhenThePathFitsWithItsNul_data() {
        QTest::addColumn<int>("pathBytes");
        QTest::addColumn<bool>("connects");
        const int limit = int(sizeof(sockaddr_un::sun_path));
        QTest::newRow("path and NUL fill sun_path") << limit - 1 << true;
        QTest::newRow("NUL would not fit") << limit << false;
    }

    void connectsOnlyWhenThePathFitsWithItsNul() {
        QFETCH(int, pathBytes);
        QFETCH(bool, connects);
        const QString prefix = directory_->path() + QLatin1Char('/');
        QVERIFY(prefix.size() < pathBytes);
        const QString path = prefix + QString(pathBytes - prefix.size(), QLatin1Char('s'));
        Listener agent(path);
        QVERIFY(agent.isListening());

        AgentGUILease lease(path);
        lease.update(true);
        QCOMPARE(lease.isConnected(), connects);
        QCOMPARE(agent.accept() >= 0, connects);
    }

    void neverTriesAPathWithAnEmbeddedNul() {
        Listener agent(path_);
        AgentGUILease lease(path_ + QChar(u'\0') + QStringLiteral("other"));
        lease.update(true);
        QVERIFY(!lease.isConnected());
        QCOMPARE(agent.accept(), -1);
    }

    void releaseClosesTheConnection() {
        Listener agent(path_);
        AgentGUILease lease(path_);
        lease.update(false);
        QVERIFY(!lease.isConnected());
        QCOMPARE(agent.accept(), -1);

        lease.update(true);
        const int connection = agent.accept();
        QVERIFY(connection >= 0);
        lease.update(false);
        QVERIFY(!lease.isConnected());
        QVERIFY(peerClosed(connection));
        ::close(connection);
    }

    void destructionClosesTheConnection() {
        Listener agent(path_);
        auto lease = std::make_unique<AgentGUILease>(path_);
        lease->update(true);
        const int connection = agent.accept();
        QVERIFY(connection >= 0);
        QVERIFY(nothingToRead(connection));
        lease.reset();
        QVERIFY(peerClosed(connection));
        ::close(connection);
    }

private:
    std::unique_ptr<QTemporaryDir> directory_;
    QString path_;
};

QTEST_GUILESS_MAIN(TestAgentGUILease)
#include "tst_AgentGUILease.moc"
