#include <unistd.h>

#include <QTest>
#include <csignal>
#include <thread>

#include "app/QuorvaneApp.h"
#include "config/AgentTokenStorageError.h"
#include "config/AgentTokenStoring.h"

using namespace quorvane;

namespace {

class FakeTokenStore : public AgentTokenStoring {
public:
    std::optional<QString> token;
    bool fails = false;

    std::optional<QString> read() const override {
        if (fails) {
            throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
        }
        return token;
    }
    void save(const QString&) const override {}
};

struct WriteOutcome {
    int status;
    QByteArray output;
};

// Runs writeStoredToken into a pipe that is drained at the same time, as the agent does.
WriteOutcome writeThroughPipe(const AgentTokenStoring& store) {
    int ends[2];
    if (::pipe(ends) != 0) {
        qFatal("pipe failed");
    }
    QByteArray output;
    std::thread reader([&output, readEnd = ends[0]] {
        char buffer[65536];
        ssize_t count = 0;
        while ((count = ::read(readEnd, buffer, sizeof buffer)) > 0) {
            output.append(buffer, count);
        }
    });
    const int status = QuorvaneApp::writeStoredToken(store, ends[1]);
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    return {status, output};
}

}  // namespace

class TestQuorvaneApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }

    void requestsTokenOutput_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("tokenOutput");
        const QByteArray flag("--read-agent-token");
        QTest::newRow("the flag alone") << QByteArrayList{"quorvane", flag} << true;
        QTest::newRow("no argument") << QByteArrayList{"quorvane"} << false;
        QTest::newRow("argument after the flag") << QByteArrayList{"quorvane", flag, "x"} << false;
        QTest::newRow("argument before the flag") << QByteArrayList{"quorvane", "x", flag} << false;
        QTest::newRow("flag twice") << QByteArrayList{"quorvane", flag, flag} << false;
        QTest::newRow("upper case") << QByteArrayList{"quorvane", "--READ-AGENT-TOKEN"} << false;
        QTest::newRow("trailing blank") << QByteArrayList{"quorvane", flag + ' '} << false;
        QTest::newRow("with a value") << QByteArrayList{"quorvane", flag + "=1"} << false;
        QTest::newRow("prefix only") << QByteArrayList{"quorvane", "--read-agent"} << false;
        QTest::newRow("empty argument") << QByteArrayList{"quorvane", ""} << false;
    }

    void requestsTokenOutput() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, tokenOutput);
        std::vector<const char*> argv;
        for (const QByteArray& argument : arguments) {
            argv.push_back(argument.constData());
        }
        argv.push_back(nullptr);
        QCOMPARE(QuorvaneApp::requestsTokenOutput(static_cast<int>(arguments.size()), argv.data()),
                 tokenOutput);
    }

    void writeStoredToken_data() {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("token") << std::optional<QString>(QStringLiteral("abc"))
                               << QByteArray("abc");
        QTest::newRow("no token") << std::optional<QString>() << QByteArray();
        QTest::newRow("empty token") << std::optional<QString>(QString()) << QByteArray();
        QTest::newRow("unchanged, no newline added")
            << std::optional<QString>(QStringLiteral(" токен\n")) << QByteArray(" токен\n");
        const QByteArray large(1 << 20, 'x');  // more than a pipe takes in one write
        QTest::newRow("larger than the pipe")
            << std::optional<QString>(QString::fromLatin1(large)) << large;
    }

    void writeStoredToken() {
        QFETCH(std::optional<QString>, token);
        QFETCH(QByteArray, output);
        FakeTokenStore store;
        store.token = token;
        const WriteOutcome outcome = writeThroughPipe(store);
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.output, output);
    }

    void failedReadWritesNothing() {
        FakeTokenStore store;
        store.token = QStringLiteral("abc");
        store.fails = true;
        const WriteOutcome outcome = writeThroughPipe(store);
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.output, QByteArray());
    }

    void failedWriteIsAFailure() {
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        ::close(ends[0]);
        FakeTokenStore store;
        store.token = QStringLiteral("abc");
        QCOMPARE(QuorvaneApp::writeStoredToken(store, ends[1]), 1);
        ::close(ends[1]);
    }
};

QTEST_GUILESS_MAIN(TestQuorvaneApp)
#include "tst_QuorvaneApp.moc"
