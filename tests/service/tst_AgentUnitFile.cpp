// The agent's user unit as written from the template of an install prefix, without systemd.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <system_error>

#include "ServiceTestTools.h"
#include "agent/AgentServiceError.h"
#include "agent/AgentUnitConfinement.h"
#include "agent/AgentUnitFile.h"
#include "config/AgentContract.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

const QByteArray unitTemplate = "[Unit]\nDescription=Agent\n\n[Service]\nExecStart=\"/old\"\n";
const QByteArray einval = "errno " + QByteArray::number(EINVAL);

// The unit made from the template, or the errno of its refusal.
QByteArray rendered(const QByteArray& text, const QString& agentPath) {
    try {
        return AgentUnitFile::render(text, agentPath);
    } catch (const std::system_error& error) {
        return "errno " + QByteArray::number(error.code().value());
    }
}

// The template a row writes; a comment pads it to 64 KiB ("+1": a byte more).
QByteArray templateFor(const QString& change) {
    if (!change.startsWith(u"64 KiB")) {
        return unitTemplate;
    }
    const qsizetype size = 64 * 1024 + (change.endsWith(u"+1") ? 1 : 0);
    return unitTemplate + "#" + QByteArray(size - unitTemplate.size() - 2, 'x') + "\n";
}

}  // namespace

class TestAgentUnitFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The agent's path is the one quoted word of ExecStart=, and a bound folder's the word
    // systemd takes as the path itself (a backslash escaping the next character), skipping the
    // folder when it is missing; '%' doubled so no specifier expands. What systemd would misread
    // even quoted is refused.
    void quotesPaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("execStart");  // empty: refused with EINVAL
        QTest::addColumn<QByteArray>("bindWord");   // empty: cannot be bound
        const QByteArray refused;
        QTest::newRow("spaces, colon and specifier")
            << u"/opt/q prefix: 100%h"_s << QByteArray("\"/opt/q prefix: 100%%h\"")
            << QByteArray("\"-/opt/q prefix: 100%%h\"");
        QTest::newRow("non-ASCII") << u"/opt/Кворвейн"_s << QByteArray("\"/opt/Кворвейн\"")
                                   << QByteArray("\"-/opt/Кворвейн\"");
        QTest::newRow("quotes") << u"/opt/\"a\""_s << refused << QByteArray("\"-/opt/\\\"a\\\"\"");
        QTest::newRow("apostrophe") << u"/opt/'b'"_s << refused << QByteArray("\"-/opt/'b'\"");
        QTest::newRow("backslash") << u"/opt/\\c"_s << refused << QByteArray("\"-/opt/\\\\c\"");
        QTest::newRow("line break") << u"/opt/q\nExecStartPre=/x"_s << refused << refused;
        QTest::newRow("DEL") << u"/opt/q\x7f"_s << refused << refused;
    }
    void quotesPaths() {
        QFETCH(QString, path);
        QFETCH(QByteArray, execStart);
        QCOMPARE(
            rendered(unitTemplate, path),
            execStart.isEmpty() ? einval : QByteArray(unitTemplate).replace("\"/old\"", execStart));
        QTEST(AgentUnitConfinement::bindWord(path).value_or(QByteArray()), "bindWord");
    }

    // Writable bindings are bound writable, read-only ones read-only; the agent's own folders
    // and the prefix with them; one that cannot be bound is left out.
    void bindsTheFolders() {
        const QList<WorkspaceRootConfiguration> roots{
            {u"1"_s, u"/w"_s, true}, {u"2"_s, u"/o"_s, false}, {u"3"_s, u"/x\ny"_s, true}};
        QByteArrayList bindings =
            AgentUnitConfinement::serviceLines({u"/c"_s, u"/s"_s, u"/r"_s, u"/p"_s, roots})
                .split('\n');
        bindings.removeIf([](const QByteArray& line) { return !line.startsWith("Bind"); });
        QCOMPARE(bindings, (QByteArrayList{"BindReadOnlyPaths=-%t/bus", "BindReadOnlyPaths=\"-/p\"",
                                           "BindReadOnlyPaths=\"-/c\"", "BindPaths=\"-/s\"",
                                           "BindPaths=\"-/r\"", "BindPaths=\"-/w\"",
                                           "BindReadOnlyPaths=\"-/o\""}));
        QCOMPARE(AgentUnitFile::render(unitTemplate, u"/a"_s, "A=1\nB=2\n"),
                 QByteArray(unitTemplate).replace("\"/old\"", "\"/a\"\nA=1\nB=2"));
        // Exactly one ExecStart= line names the agent.
        QCOMPARE(rendered(unitTemplate + "ExecStart=/b\n", u"/a"_s), einval);
        QCOMPARE(rendered("[Service]\n", u"/a"_s), einval);
    }

    // The user's mask is kept; a unit that cannot be made is not written at all, and the
    // failure names the unit file and why.
    void writesTheUnitFile_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("code");  // 0: written, or kept if a mask
        QTest::newRow("new unit") << QString() << 0;
        QTest::newRow("older unit") << u"older unit"_s << 0;
        QTest::newRow("masked by link") << u"mask by link"_s << 0;
        QTest::newRow("masked by empty file") << u"mask by empty file"_s << 0;
        QTest::newRow("template missing") << u"remove template"_s << ENOENT;
        QTest::newRow("template of 64 KiB") << u"64 KiB"_s << 0;
        QTest::newRow("template a byte larger") << u"64 KiB+1"_s << EINVAL;
        QTest::newRow("unit folder blocked by a file") << u"block folder"_s << ENOTDIR;
    }
    void writesTheUnitFile() {
        QFETCH(QString, change);
        QFETCH(int, code);
        QTemporaryDir prefix, home;
        const QString unitDirectory = home.filePath(u".local/share/systemd/user"_s);
        const AgentUnitFile unitFile(prefix.path(), unitDirectory);
        QVERIFY(change == u"remove template" ||
                writeFile(prefix.filePath(QString(AgentContract::bundledUnitTemplatePath)),
                          templateFor(change)));
        if (change == u"block folder") {
            QVERIFY(writeFile(home.filePath(u".local"_s), "not a folder"));
        } else if (change == u"mask by link") {
            QVERIFY(QDir().mkpath(unitDirectory) && QFile::link(u"/dev/null"_s, unitFile.path()));
        } else if (change == u"older unit" || change == u"mask by empty file") {
            QVERIFY(writeFile(unitFile.path(), change == u"older unit" ? "ExecStart=/old\n" : ""));
        }
        try {
            unitFile.write({});
            QCOMPARE(code, 0);
        } catch (const AgentServiceError& error) {
            // Names the unit file, then why.
            QVERIFY2(!error.description().section(unitFile.path() + u": "_s, 1).isEmpty(),
                     qPrintable(error.description()));
            QCOMPARE(error.kind(), AgentServiceError::Kind::locationUpdateFailed);
            QCOMPARE(error.code(), code);
            QVERIFY(!QFileInfo::exists(unitFile.path()));
            return;
        }
        const QByteArray agent =
            QFile::encodeName(prefix.filePath(QString(AgentContract::bundledAgentPath)));
        QCOMPARE(QFileInfo(unitFile.path()).isSymLink(), change == u"mask by link");
        QVERIFY(change.startsWith(u"mask") ||
                (QFile::permissions(unitFile.path()) & 0x0777) == 0x0600);
        QCOMPARE(readFile(unitFile.path()), change.startsWith(u"mask")
                                                ? QByteArray()
                                                : templateFor(change).replace("/old", agent));
        QCOMPARE(
            QDir(unitDirectory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{AgentContract::unitName});
    }
};

QTEST_GUILESS_MAIN(TestAgentUnitFile)
#include "tst_AgentUnitFile.moc"
