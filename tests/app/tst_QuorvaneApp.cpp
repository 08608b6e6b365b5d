#include <unistd.h>

#include <QTest>
#include <thread>

#include "app/QuorvaneApp.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;
using quorvane::testing::FakeTokenStore;

namespace {

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

    // A pipe takes 64 KiB at once; the rest must follow, not be dropped.
    void writesTokensLargerThanThePipe() {
        const QByteArray large(1 << 20, 'x');
        FakeTokenStore store;
        store.token = QString::fromLatin1(large);
        const WriteOutcome outcome = writeThroughPipe(store);
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.output, large);
    }
};

QTEST_GUILESS_MAIN(TestQuorvaneApp)
#include "tst_QuorvaneApp.moc"
