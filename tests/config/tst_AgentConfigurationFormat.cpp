// The configuration text and the input rules: parsing, the first fault's report, writing, and
// the rules for tokens, folder identifiers and folder paths.
#include <sys/stat.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "ConfigurationTestSupport.h"
#include "config/AgentConfigurationStore.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;
using Kind = AgentConfigurationError::Kind;

Q_DECLARE_METATYPE(quorvane::AgentConfiguration)

namespace {

const QString idA = u"0a4c1f5e-2b7d-4c1a-9e3f-5d6b7a8c9d01"_s;
const QString idB = u"7f00e2b1-93c4-4d2e-8a61-0c5b9e7d3f22"_s;
const QString header = u"# Quorvane Agent — управляется приложением Quorvane\n"_s;

// {A}, {B} and {UA} (A in upper case) stand for the identifiers.
QString withIds(QString text) {
    return text.replace(u"{A}"_s, idA).replace(u"{B}"_s, idB).replace(u"{UA}"_s, idA.toUpper());
}

AgentConfiguration roots(const QList<WorkspaceRootConfiguration>& list) {
    return {std::nullopt, list};
}

const QString token = u"qv_agent_"_s + u"AZaz09-_"_s.repeated(5) + u"abc"_s;

enum class Rule { token, id, path };

QString outcome(Rule rule, const QString& input) {
    try {
        switch (rule) {
            case Rule::token:
                return u"ok:"_s + AgentConfigurationStore::validateToken(input);
            case Rule::id:
                return u"ok:"_s + AgentConfigurationStore::validateWorkspaceID(input);
            case Rule::path:
                return u"ok:"_s + AgentConfigurationStore::validateWorkspacePath(input);
        }
    } catch (const AgentConfigurationError& error) {
        return u"error:%1"_s.arg(int(error.kind()));
    }
    return {};
}

QString failure(Kind kind) {
    return u"error:%1"_s.arg(int(kind));
}

}  // namespace

class TestAgentConfigurationFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesValidText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<AgentConfiguration>("expected");
        const auto row = [](const char* name, const QString& text, AgentConfiguration expected) {
            QTest::newRow(name) << withIds(text) << expected;
        };
        row("comments and blank lines", u"# one\n\n   # indented\n\t\n#x\n"_s, {});
        row("sorted by id, flag before its path, doubled prefix, upper case",
            u"workspace.{B}=/b\nworkspace.{A}.write=true\nworkspace.workspace.{UA}=/a"_s,
            roots({{idA, u"/a"_s, true}, {idB, u"/b"_s, false}}));
        row("spaces and Unicode spaces trimmed, value kept after the first =",
            u" \tworkspace.{A}\u3000= \t/a=b#c d\u202f\n\u00a0workspace.{A}.write\t=true "_s,
            roots({{idA, u"/a=b#c d"_s, true}}));
        row("path standardised", u"workspace.{A}=/srv/./x/../a//b/\nworkspace.{B}=/.."_s,
            roots({{idA, u"/srv/a/b"_s, false}, {idB, u"/"_s, false}}));
        row("token line, every line break",
            u"token =  "_s + validToken() +
                u" \r\nworkspace.{A}=/a\rworkspace.{A}.write=true\u0085#\u2028#\u2029#\v#\f"_s,
            {validToken(), {{idA, u"/a"_s, true}}});
    }

    void parsesValidText() {
        QFETCH(QString, text);
        QFETCH(AgentConfiguration, expected);
        QCOMPARE(AgentConfigurationStore::parse(text), expected);
    }

    void reportsTheFirstFault_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        const auto row = [](const char* name, const QString& text, const QString& detail) {
            QTest::newRow(name) << withIds(text) << withIds(detail);
        };
        row("line without =", u"workspace"_s, u"строка 1 не содержит знак ="_s);
        row("comments and blanks count", u"# a\n\n  # b\n\t\nx"_s,
            u"строка 5 не содержит знак ="_s);
        row("CR LF counts once, LF CR twice", u"#\r\n#\n\rx"_s, u"строка 4 не содержит знак ="_s);
        row("every break counts", u"#\v#\f#\u0085#\u2028#\u2029#\rx"_s,
            u"строка 7 не содержит знак ="_s);
        row("second token line", u"token=%1\ntoken=x"_s.arg(validToken()),
            u"параметр token повторяется"_s);
        row("invalid token", u"token=qv_agent_x"_s,
            u"Введите корректный токен устройства Quorvane."_s);
        row("keys are case-sensitive", u"Token=x"_s, u"неизвестный параметр Token"_s);
        row("unknown key keeps inner spaces", u" log level = 3"_s,
            u"неизвестный параметр log level"_s);
        row("# inside a key", u"\nworkspace.{A}#x=/a"_s, u"некорректный UUID в строке 2"_s);
        row(".WRITE, before the value", u"workspace.{A}.WRITE=x"_s,
            u"некорректный UUID в строке 1"_s);
        row("same folder in two cases", u"workspace.{UA}=/a\nworkspace.workspace.{A}=x"_s,
            u"workspace.{A} повторяется"_s);
        row("relative path", u"workspace.{A}=~/a"_s, u"путь workspace.{A} некорректен"_s);
        row("NUL in path", u"workspace.{A}=/a"_s + QChar(u'\0'),
            u"путь workspace.{A} некорректен"_s);
        // Written back as "/a/ ", this would read as "/a": another folder.
        row("ends in a space once standardised", u"workspace.{A}=/a/ /"_s,
            u"путь workspace.{A} некорректен"_s);
        row("ends in a Unicode space", u"workspace.{A}=/a/\u3000/b/.."_s,
            u"путь workspace.{A} некорректен"_s);
        row("second write flag", u"workspace.{A}.write=true\nworkspace.{UA}.write=true"_s,
            u"workspace.{A}.write повторяется"_s);
        row("write flag in upper case", u"workspace.{A}.write=TRUE"_s,
            u"workspace.{A}.write должен быть true или false"_s);
        row("write flags without a path", u"workspace.{B}.write=true\nworkspace.{A}.write=false"_s,
            u"для workspace.{A}.write не задан путь"_s);
    }

    void reportsTheFirstFault() {
        QFETCH(QString, text);
        QFETCH(QString, detail);
        const auto error = configurationErrorOf([&] { AgentConfigurationStore::parse(text); });
        QVERIFY(error);
        QCOMPARE(error->kind() == AgentConfigurationError::Kind::malformedConfiguration
                     ? error->detail()
                     : error->message(),
                 detail);
    }

    void initTestCase() {
        QVERIFY(scratch_.isValid());
        home_ = scratch_.filePath(u"home"_s);
        for (const QString& folder : {u"/inside/deeper"_s, u"/trailing "_s, u"/inside "_s,
                                      u"/inside/ "_s, u"/with\nbreak"_s}) {
            QVERIFY(QDir().mkpath(home_ + folder));
        }
        QVERIFY(QFile::link(home_, scratch_.filePath(u"link-to-home"_s)));
        QVERIFY(QFile::link(home_ + u"/inside"_s, scratch_.filePath(u"link-to-inside"_s)));
        QVERIFY(QFile::link(u"/"_s, scratch_.filePath(u"link-to-root"_s)));
        QFile file(home_ + u"/file"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
        qputenv("HOME", QFile::encodeName(home_));
        QVERIFY(QDir::setCurrent(home_));
    }

    // HOME stands for the test's home folder, SCRATCH for its parent.
    void validates_data() {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, Rule rule, const QString& input,
                            const QString& expected) {
            QTest::newRow(name) << rule << input << expected;
        };
        const QString badToken = failure(Kind::invalidToken);
        row("token trimmed", Rule::token, u"\u00a0\u2028 "_s + token + u"\t\r\n\u3000\u0085"_s,
            u"ok:"_s + token);
        row("token of 51", Rule::token, token.chopped(1), badToken);
        row("token of 53", Rule::token, token + u"A"_s, badToken);
        row("token prefix", Rule::token, u"qv_agenT_"_s + token.sliced(9), badToken);
        row("token alphabet", Rule::token, token.chopped(1) + u"+"_s, badToken);
        row("token inner space", Rule::token, token.first(20) + u" "_s + token.sliced(21),
            badToken);
        const QString badId = failure(Kind::invalidWorkspaceID);
        row("id in upper case, trimmed, prefixed", Rule::id,
            u" \tworkspace."_s + idA.toUpper() + u"\n"_s, u"ok:"_s + idA);
        row("id prefix removed once", Rule::id, u"workspace.workspace."_s + idA, badId);
        row("id prefix is case-sensitive", Rule::id, u"Workspace."_s + idA, badId);
        row("id in braces", Rule::id, u"{"_s + idA + u"}"_s, badId);
        row("id misplaced hyphen", Rule::id, idA.first(7) + u"-"_s + idA.sliced(7).remove(1, 1),
            badId);
        row("id not hexadecimal", Rule::id, u"g"_s + idA.sliced(1), badId);
        const QString tooBroad = failure(Kind::rootTooBroad);
        const QString badPath = failure(Kind::invalidWorkspacePath);
        row("home through ..", Rule::path, u"HOME/inside/.."_s, tooBroad);
        row("link to home", Rule::path, u"SCRATCH/link-to-home"_s, tooBroad);
        row("disk root through ..", Rule::path, u"/.."_s, tooBroad);
        row("link to the disk root", Rule::path, u"SCRATCH/link-to-root/"_s, tooBroad);
        row("standardised", Rule::path, u"HOME/./inside/../inside//deeper/"_s,
            u"ok:HOME/inside/deeper"_s);
        row("link kept as chosen", Rule::path, u"SCRATCH/link-to-inside"_s,
            u"ok:SCRATCH/link-to-inside"_s);
        row("parent of home", Rule::path, u"SCRATCH"_s, u"ok:SCRATCH"_s);
        row("regular file", Rule::path, u"HOME/file"_s, badPath);
        row("nothing there", Rule::path, u"HOME/missing"_s, badPath);
        row("relative, though it exists", Rule::path, u"inside"_s, badPath);
        row("empty", Rule::path, {}, badPath);
        // Taken as chosen: trimming would bind the sibling "inside" or the parent instead.
        row("leading space", Rule::path, u" HOME/inside"_s, badPath);
        row("final line break", Rule::path, u"HOME/inside\n"_s, badPath);
        row("folder name ending in a space", Rule::path, u"HOME/inside "_s, badPath);
        row("folder named by a space", Rule::path, u"HOME/inside/ "_s, badPath);
        row("line break inside", Rule::path, u"HOME/with\nbreak"_s, badPath);
        row("NUL inside", Rule::path, u"HOME/inside"_s + QChar(u'\0'), badPath);
        // The file trims values, so this folder would come back as "HOME/trailing".
        row("ends with a space once standardised", Rule::path, u"HOME/trailing /."_s, badPath);
    }

    void validates() {
        QFETCH(Rule, rule);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto expand = [this](QString text) {
            return text.replace(u"HOME"_s, home_).replace(u"SCRATCH"_s, scratch_.path());
        };
        QCOMPARE(outcome(rule, expand(input)), expand(expected));
    }

    void homeIsComparedWithLinksResolved() {
        qputenv("HOME", QFile::encodeName(scratch_.filePath(u"link-to-home"_s)));
        const QString result = outcome(Rule::path, home_);
        qputenv("HOME", QFile::encodeName(home_));
        QCOMPARE(result, failure(Kind::rootTooBroad));
    }

    void writesRootsInIdOrder() {
        const AgentConfiguration configuration{validToken(),
                                               {{idB, u"/b c"_s, true}, {idA, u"/a=1"_s, false}}};
        QCOMPARE(AgentConfigurationStore::serialize(configuration),
                 header + withIds(u"workspace.{A}=/a=1\nworkspace.{A}.write=false\n"
                                  u"workspace.{B}=/b c\nworkspace.{B}.write=true\n"_s));
    }

    // Random text either parses or fails with the configuration error, and whatever parses
    // is written back to the same roots; every other sample is one path line of random
    // pieces (spaces, "=", "#", Cyrillic, emoji, dots), so that many do parse.
    void survivesRandomTextAndRoundTrips() {
        static const QString pieces[] = {u"workspace."_s, idA,       u".write"_s, u"="_s,
                                         u"token"_s,      u"true"_s, u"/a"_s,     u"/п é"_s,
                                         u"/😀#="_s,       u"/.."_s,  u"/."_s,     u" "_s,
                                         u"#"_s,          u"\n"_s,   u"\r"_s,     u"\u2028"_s};
        QRandomGenerator random(7);
        int parsedCount = 0;
        for (int sample = 0; sample < 3000; ++sample) {
            const bool pathLine = sample % 2 == 0;
            QString text = pathLine ? u"workspace.%1=/"_s.arg(sample % 4 ? idA : idB) : QString();
            for (int i = random.bounded(0, 30); i > 0; --i) {
                text += pieces[random.bounded(int(std::size(pieces)) - (pathLine ? 3 : 0))];
            }
            std::optional<AgentConfiguration> parsed;
            if (configurationErrorOf([&] { parsed = AgentConfigurationStore::parse(text); })) {
                continue;
            }
            ++parsedCount;
            const QString written = AgentConfigurationStore::serialize(*parsed);
            QCOMPARE(AgentConfigurationStore::parse(written).workspaceRoots,
                     parsed->workspaceRoots);
        }
        QVERIFY(parsedCount > 1000);
    }

private:
    QTemporaryDir scratch_;
    QString home_;
};

QTEST_APPLESS_MAIN(TestAgentConfigurationFormat)
#include "tst_AgentConfigurationFormat.moc"
