// The configuration text and the input rules: parsing, the first fault's report, writing back,
// the rules for tokens, folder identifiers and folder paths; and the messages that name a
// failure of the system or the token store.
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "config/AgentTokenStorageError.h"
#include "system/PosixError.h"

using namespace quorvane;
using namespace Qt::StringLiterals;
using Error = AgentConfigurationError;
using Store = AgentConfigurationStore;

namespace {

const QString idA = u"0a4c1f5e-2b7d-4c1a-9e3f-5d6b7a8c9d01"_s;
const QString idB = u"7f00e2b1-93c4-4d2e-8a61-0c5b9e7d3f22"_s;
// A valid token, {T} in the table.
const QString t = u"qv_agent_"_s + u"AZaz09-_"_s.repeated(5) + u"abc"_s;

enum class Rule { parse, token, id, path };

// What the input gives: for parse the roots in short form ("id=path r|w; ", after a token), or
// "! " and the first fault's report. Whatever parses must be written back to the same roots; a
// fault there throws out of the test.
QString outcome(Rule rule, const QString& input) {
    AgentConfiguration read;
    try {
        switch (rule) {
            case Rule::token:
                return Store::validateToken(input);
            case Rule::id:
                return Store::validateWorkspaceID(input);
            case Rule::path:
                return Store::validateWorkspacePath(input);
            case Rule::parse:
                read = Store::parse(input);
        }
    } catch (const Error& error) {
        const bool malformed = error.kind() == Error::Kind::malformedConfiguration;
        return u"! "_s + (malformed ? error.detail() : error.message());
    }
    QString result = read.token ? u"token="_s + *read.token + u"; "_s : QString();
    for (const WorkspaceRootConfiguration& root : read.workspaceRoots) {
        result += root.id + u'=' + root.path + (root.writeEnabled ? u" w; "_s : u" r; "_s);
    }
    const bool same = Store::parse(Store::serialize(read)).workspaceRoots == read.workspaceRoots;
    return same ? result : u"written back otherwise: "_s + result;
}

}  // namespace

class TestAgentConfigurationFormat : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;
    QString home_;

private Q_SLOTS:
    // HOME is a link to the real home folder: the rules compare against its resolved path.
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        home_ = scratch_.filePath(u"home"_s);
        for (const QString& folder :
             {u"/inside/deeper"_s, u"/trailing "_s, u"/inside "_s, u"/with\nbreak"_s}) {
            QVERIFY(QDir().mkpath(home_ + folder));
        }
        QVERIFY(QFile::link(home_, scratch_.filePath(u"link-to-home"_s)));
        QVERIFY(QFile::link(home_ + u"/inside"_s, scratch_.filePath(u"link-to-inside"_s)));
        QVERIFY(QFile::link(u"/"_s, scratch_.filePath(u"link-to-root"_s)));
        QVERIFY(QFile(home_ + u"/file"_s).open(QIODevice::WriteOnly));
        qputenv("HOME", QFile::encodeName(scratch_.filePath(u"link-to-home"_s)));
        QVERIFY(QDir::setCurrent(home_));
    }

    // {A}, {B}, {UA} (A in upper case) stand for identifiers, {T} for a valid token, HOME for
    // the real home folder and SCRATCH for its parent.
    void rules_data() {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto rows = [](Rule rule) {
            return [rule](const char* name, const QString& input, const QString& expected) {
                QTest::newRow(name) << rule << input << expected;
            };
        };
        const auto parse = rows(Rule::parse), token = rows(Rule::token), id = rows(Rule::id),
                   path = rows(Rule::path);
        const QString badToken = u"! "_s + Error::invalidToken().message();
        parse("sorted by id, flag before its path, doubled prefix, upper case",
              u"workspace.{B}=/b\nworkspace.{A}.write=true\nworkspace.workspace.{UA}=/a"_s,
              u"{A}=/a w; {B}=/b r; "_s);
        parse("spaces and Unicode spaces trimmed, value kept after the first =",
              u" \tworkspace.{A}\u3000= \t/a=b#c d\u202f\n\u00a0workspace.{A}.write\t=true "_s,
              u"{A}=/a=b#c d w; "_s);
        parse("path standardised", u"workspace.{A}=/srv/./x/../a//b/\nworkspace.{B}=/.."_s,
              u"{A}=/srv/a/b r; {B}=/ r; "_s);
        parse("token line", u"token =  {T} \nworkspace.{A}=/a"_s, u"token={T}; {A}=/a r; "_s);
        // Comments, blank lines and each line break count; CR LF once, LF CR twice.
        const QString noSign = u"! строка %1 не содержит знак ="_s;
        parse("comments and blanks count", u"# a\n\n  # b\n\t\nx"_s, noSign.arg(5));
        parse("CR LF counts once, LF CR twice", u"#\r\n#\n\rx"_s, noSign.arg(4));
        parse("every break counts", u"#\v#\f#\u0085#\u2028#\u2029#\rx"_s, noSign.arg(7));
        parse("second token line", u"token={T}\ntoken=x"_s, u"! параметр token повторяется"_s);
        parse("invalid token", u"token=qv_agent_x"_s, badToken);
        parse("keys: case-sensitive, trimmed", u" Token = x"_s, u"! неизвестный параметр Token"_s);
        parse("= opening the line", u"=x"_s, u"! неизвестный параметр "_s);
        parse("# inside a key", u"\nworkspace.{A}#x=/a"_s, u"! некорректный UUID в строке 2"_s);
        parse(".WRITE: no flag", u"workspace.{A}.WRITE=x"_s, u"! некорректный UUID в строке 1"_s);
        parse("same folder in two cases", u"workspace.{UA}=/a\nworkspace.workspace.{A}=x"_s,
              u"! workspace.{A} повторяется"_s);
        const QString badLine = u"! путь workspace.{A} некорректен"_s;
        parse("relative path", u"workspace.{A}=~/a"_s, badLine);
        // Written back ending in a space, this would read as "/a": another folder.
        parse("ends in a space once standardised", u"workspace.{A}=/a/\u3000/b/.."_s, badLine);
        parse("second write flag", u"workspace.{A}.write=true\nworkspace.{UA}.write=true"_s,
              u"! workspace.{A}.write повторяется"_s);
        parse("write flag in upper case", u"workspace.{A}.write=TRUE"_s,
              u"! workspace.{A}.write должен быть true или false"_s);
        parse("flags without a path", u"workspace.{B}.write=true\nworkspace.{A}.write=false"_s,
              u"! для workspace.{A}.write не задан путь"_s);

        token("trimmed", u"\u00a0\u2028 {T}\t\r\n\u3000\u0085"_s, u"{T}"_s);
        token("of 51", t.chopped(1), badToken);
        token("of 53", t + u"A"_s, badToken);
        token("prefix", u"qv_agenT_"_s + t.sliced(9), badToken);
        token("alphabet", t.chopped(1) + u"+"_s, badToken);
        const QString badId = u"! "_s + Error::invalidWorkspaceID().message();
        id("in upper case, trimmed, prefixed", u" \tworkspace.{UA}\n"_s, u"{A}"_s);
        id("prefix removed once", u"workspace.workspace.{A}"_s, badId);
        id("prefix is case-sensitive", u"Workspace.{A}"_s, badId);
        id("in braces", u"{{A}}"_s, badId);
        id("misplaced hyphen", idA.first(7) + u"-"_s + idA.sliced(7).remove(1, 1), badId);
        id("not hexadecimal", u"g"_s + idA.sliced(1), badId);
        const QString tooBroad = u"! "_s + Error::rootTooBroad().message();
        const QString badPath = u"! "_s + Error::invalidWorkspacePath().message();
        path("home through ..", u"HOME/inside/.."_s, tooBroad);
        path("link to home", u"SCRATCH/link-to-home"_s, tooBroad);
        path("link to the disk root", u"SCRATCH/link-to-root/"_s, tooBroad);
        path("standardised", u"HOME/./inside/../inside//deeper/"_s, u"HOME/inside/deeper"_s);
        path("link kept as chosen", u"SCRATCH/link-to-inside"_s, u"SCRATCH/link-to-inside"_s);
        path("parent of home", u"SCRATCH"_s, u"SCRATCH"_s);
        path("regular file", u"HOME/file"_s, badPath);
        path("relative, though it exists", u"inside"_s, badPath);
        // Taken as chosen: trimming would bind the sibling "inside" or the parent instead.
        path("leading space", u" HOME/inside"_s, badPath);
        path("final line break", u"HOME/inside\n"_s, badPath);
        path("folder name ending in a space", u"HOME/inside "_s, badPath);
        path("line break inside", u"HOME/with\nbreak"_s, badPath);
        path("NUL inside", u"HOME/inside"_s + QChar(u'\0'), badPath);
        // The file trims values, so this folder would come back as "HOME/trailing".
        path("ends with a space once standardised", u"HOME/trailing /."_s, badPath);
    }

    void rules() {
        QFETCH(Rule, rule);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto expand = [this](QString text) {
            return text.replace(u"{A}"_s, idA)
                .replace(u"{B}"_s, idB)
                .replace(u"{UA}"_s, idA.toUpper())
                .replace(u"{T}"_s, t)
                .replace(u"HOME"_s, home_)
                .replace(u"SCRATCH"_s, scratch_.path());
        };
        QCOMPARE(outcome(rule, expand(input)), expand(expected));
    }

    // Each errno value a user can act on, a malformed file's detail and each refusal of the token
    // store have messages that name them; other codes keep the platform's text. Only a locked
    // store's message advises unlocking it.
    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("names");  // a pattern
        const auto posix = [](int code, const QString& names) {
            QTest::addRow("errno %d", code)
                << QString::fromUtf8(PosixError::fromCode(code).what()) << names;
        };
        // No code is an input-output failure; a code without a sentence of ours, the system's.
        posix(0, u"ввода-вывода"_s);
        posix(EXDEV, QRegularExpression::escape(
                         QString::fromStdString(std::generic_category().message(EXDEV))));
        QTest::newRow("malformed")
            << Error::malformedConfiguration(u"деталь"_s).message() << u": деталь$"_s;
        using Cause = AgentTokenStorageError::Cause;
        const auto storage = [](const char* name, int status, Cause cause, const QString& advice) {
            QTest::newRow(name) << QString::fromUtf8(AgentTokenStorageError(status, cause).what())
                                << u"\\(код %1\\)\\..*"_s.arg(status) + advice;
        };
        storage("store locked", -25308, Cause::statusOnly, u"Разблокируйте"_s);
        storage("per-client confirmation", -25308, Cause::clientConfirmationRequired,
                u"Confirm when passwords"_s);
        storage("no collection", -25294, Cause::statusOnly, u"Создайте связку"_s);
    }

    void messages() {
        QFETCH(QString, message);
        QFETCH(QString, names);
        QVERIFY2(message.contains(QRegularExpression(names)), qPrintable(message));
        QCOMPARE(message.count(u"Разблокируйте"_s), int(names.endsWith(u"Разблокируйте"_s)));
        QVERIFY(PosixError::fromCode(ENOSPC).code() == std::errc::no_space_on_device);
    }
};

QTEST_APPLESS_MAIN(TestAgentConfigurationFormat)
#include "tst_AgentConfigurationFormat.moc"
