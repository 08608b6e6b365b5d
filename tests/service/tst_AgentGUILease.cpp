// The panel's lease on the agent's socket, against a socket made here as the agent makes it.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <future>

#include "agent/AgentGUILease.h"
#include "tests/support/AgentSocket.h"

using namespace quorvane;
using quorvane::testing::AgentSocket;
using namespace Qt::StringLiterals;

namespace {

// A descriptor closed with its owner (closing -1 fails harmlessly).
struct Fd {
    int value = -1;
    ~Fd() { reset(); }
    operator int() const { return value; }
    void reset() { ::close(std::exchange(value, -1)); }
};

int accepted(int listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// What the agent reads: 0 once the panel closed its end, -1 while it stays silent.
ssize_t peeked(int connection) {
    char byte = 0;
    return ::recv(connection, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
}

}  // namespace

class TestAgentGUILease : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectsOnlyToAListeningAgent_data() {
        QTest::addColumn<int>("pathBytes");  // 0: a short path
        QTest::addColumn<QString>("agent");
        QTest::addColumn<bool>("connects");
        const int limit = int(sizeof(sockaddr_un::sun_path));
        QTest::newRow("socket file, nobody listening") << 0 << u"gone"_s << false;
        QTest::newRow("path and NUL fill sun_path") << limit - 1 << u"listening"_s << true;
        QTest::newRow("NUL would not fit") << limit << u"listening"_s << false;
        QTest::newRow("embedded NUL") << 0 << u"listening, NUL"_s << false;
        QTest::newRow("another user listening") << 0 << u"listening as nobody"_s << false;
    }
    void connectsOnlyToAListeningAgent() {
        QFETCH(int, pathBytes);
        QFETCH(QString, agent);
        QString path = directory_.path() + u'/';
        path += QString(pathBytes > 0 ? pathBytes - path.size() : 4, u's');
        const bool asNobody = agent.endsWith(u"nobody");
        if (asNobody && ::geteuid() != 0) {
            QSKIP("needs another user's listener; run the suite as root");
        }
        Fd listener{AgentSocket::listenAt(path, 8, asNobody)};
        QVERIFY(listener >= 0);
        if (agent == u"gone") {
            listener.reset();  // the file stays
        }
        AgentGUILease lease(agent.endsWith(u"NUL") ? path + QChar(u'\0') + path : path);
        lease.update(true);
        QTEST(lease.isConnected(), "connects");
        if (listener >= 0 && !asNobody) {
            QTEST(Fd{accepted(listener)} >= 0, "connects");
            QCOMPARE(accepted(listener), -1);
        }
    }

    // One connection while the service runs, whatever the agent writes into it; closed when the
    // panel lets go; made again in the same call once the agent closed it, even with data unread.
    void holdsOneConnectionWhileTheAgentRuns() {
        Fd listener{AgentSocket::listenAt(socket_)};
        auto lease = std::make_unique<AgentGUILease>(socket_);
        lease->update(false);
        QCOMPARE(accepted(listener), -1);
        lease->update(true);
        Fd first{accepted(listener)};
        lease->update(true);
        QVERIFY(lease->isConnected());
        QCOMPARE(peeked(first), ssize_t(-1));
        lease->update(false);
        QVERIFY(!lease->isConnected());
        QCOMPARE(peeked(first), ssize_t(0));

        // The agent closes silently (the peek reads its end), then with data left unread.
        lease->update(true);
        Fd{accepted(listener)}.reset();
        lease->update(true);
        Fd second{accepted(listener)};
        QCOMPARE(::send(second, "hello", 5, MSG_NOSIGNAL), ssize_t(5));
        lease->update(true);
        QCOMPARE(accepted(listener), -1);
        second.reset();
        lease->update(true);
        Fd third{accepted(listener)};
        QVERIFY(lease->isConnected() && third >= 0);
        lease.reset();
        QCOMPARE(peeked(third), ssize_t(0));
    }

    void doesNotWaitForAnAgentWithAFullBacklog() {
        Fd listener{AgentSocket::listenAt(socket_, 0)};
        // One connection fills a backlog of zero; a blocking connect would now wait.
        AgentGUILease waiting(socket_);
        waiting.update(true);
        QVERIFY(waiting.isConnected());

        AgentGUILease lease(socket_);
        auto attempt = std::async(std::launch::async, [&lease] { lease.update(true); });
        const bool returned =
            attempt.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        Fd freed{accepted(listener)};  // also ends a connect that did wait
        attempt.wait();
        QVERIFY(returned);
        QVERIFY(!lease.isConnected());
        lease.update(true);
        QVERIFY(lease.isConnected());
    }

private:
    QTemporaryDir directory_;
    const QString socket_ = directory_.filePath(u"agent-gui.sock"_s);
};

QTEST_GUILESS_MAIN(TestAgentGUILease)
#include "tst_AgentGUILease.moc"
