#include <QRandomGenerator>
#include <QTest>

#include "ConfigurationTestSupport.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"

using namespace quorvane;
using namespace quorvane::testing;

Q_DECLARE_METATYPE(quorvane::AgentConfiguration)

namespace {

const QString idA = QStringLiteral("0a4c1f5e-2b7d-4c1a-9e3f-5d6b7a8c9d01");
const QString idB = QStringLiteral("7f00e2b1-93c4-4d2e-8a61-0c5b9e7d3f22");

AgentConfiguration roots(QList<WorkspaceRootConfiguration> list) {
    return {std::nullopt, std::move(list)};
}

QString parseFailure(const QString& text) {
    try {
        AgentConfigurationStore::parse(text);
    } catch (const AgentConfigurationError& error) {
        return error.kind() == AgentConfigurationError::Kind::malformedConfiguration
                   ? error.detail()
                   : error.message();
    }
    return QStringLiteral("<parsed>");
}

// A standardised path of random components (Cyrillic, emoji, spaces, "=", "#", dots inside)
// that, like every path the validator lets through, has no white space at either end.
QString randomPath(QRandomGenerator& random) {
    static const QStringList anywhere = {
        QStringLiteral("a"), QStringLiteral("Z"), QStringLiteral("0"), QStringLiteral(" "),
        QStringLiteral("="), QStringLiteral("#"), QStringLiteral("."), QStringLiteral("-"),
        QStringLiteral("п"), QStringLiteral("é"), QStringLiteral("😀")};
    static const QStringList last = {QStringLiteral("b"), QStringLiteral("я"), QStringLiteral("9"),
                                     QStringLiteral("😀")};
    QString path;
    const int depth = random.bounded(1, 5);
    for (int level = 0; level < depth; ++level) {
        path += QLatin1Char('/');
        const int length = random.bounded(0, 12);
        for (int i = 0; i < length; ++i) {
            path += anywhere.at(random.bounded(int(anywhere.size())));
        }
        path += last.at(random.bounded(int(last.size())));
    }
    return path;
}

}  // namespace

class TestAgentConfigurationFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesValidText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<AgentConfiguration>("expected");

        const QString upperA = idA.toUpper();
        QTest::newRow("empty text") << QString() << AgentConfiguration::empty();
        QTest::newRow("comments and blank lines only")
            << QStringLiteral("# one\n\n   # indented\n\t\n#no space\n")
            << AgentConfiguration::empty();
        QTest::newRow("two roots as written")
            << QStringLiteral(
                   "# Quorvane Agent — управляется приложением Quorvane\n"
                   "workspace.%1=/srv/a\nworkspace.%1.write=false\n"
                   "workspace.%2=/srv/b\nworkspace.%2.write=true\n")
                   .arg(idA, idB)
            << roots(
                   {{idA, QStringLiteral("/srv/a"), false}, {idB, QStringLiteral("/srv/b"), true}});
        QTest::newRow("sorted by id, whatever the line order")
            << QStringLiteral("workspace.%2=/srv/b\nworkspace.%1=/srv/a\n").arg(idA, idB)
            << roots({{idA, QStringLiteral("/srv/a"), false},
                      {idB, QStringLiteral("/srv/b"), false}});
        QTest::newRow("spaces and tabs around key, = and value")
            << QStringLiteral(" \tworkspace.%1 \t= \t/srv/a b\t \n  workspace.%1.write\t=true  ")
                   .arg(idA)
            << roots({{idA, QStringLiteral("/srv/a b"), true}});
        QTest::newRow("Unicode space separators are trimmed")
            << QStringLiteral("\u00a0workspace.%1\u3000=\u2003/srv/a\u202f").arg(idA)
            << roots({{idA, QStringLiteral("/srv/a"), false}});
        QTest::newRow("value keeps everything after the first =")
            << QStringLiteral("workspace.%1=/srv/a=b#c").arg(idA)
            << roots({{idA, QStringLiteral("/srv/a=b#c"), false}});
        QTest::newRow("write flag before its path line")
            << QStringLiteral("workspace.%1.write=true\nworkspace.%1=/srv/a").arg(idA)
            << roots({{idA, QStringLiteral("/srv/a"), true}});
        QTest::newRow("upper-case identifier is stored in lower case")
            << QStringLiteral("workspace.%1=/srv/a\nworkspace.%1.write=true").arg(upperA)
            << roots({{idA, QStringLiteral("/srv/a"), true}});
        QTest::newRow("doubled workspace. prefix")
            << QStringLiteral("workspace.workspace.%1=/srv/a\nworkspace.%2.write=true")
                   .arg(idA, upperA)
            << roots({{idA, QStringLiteral("/srv/a"), true}});
        QTest::newRow("path standardised")
            << QStringLiteral("workspace.%1=/srv/./x/../a//b/\nworkspace.%2=/..").arg(idA, idB)
            << roots({{idA, QStringLiteral("/srv/a/b"), false}, {idB, QStringLiteral("/"), false}});
        QTest::newRow("token line")
            << QStringLiteral("token =  %1 \nworkspace.%2=/srv/a").arg(validToken(), idA)
            << AgentConfiguration{validToken(), {{idA, QStringLiteral("/srv/a"), false}}};
        QTest::newRow("every line break")
            << QStringLiteral(
                   "#\r\nworkspace.%1=/a\rworkspace.%1.write=true\u0085#\u2028#\u2029#\v#\f")
                   .arg(idA)
            << roots({{idA, QStringLiteral("/a"), true}});
    }

    void parsesValidText() {
        QFETCH(QString, text);
        QFETCH(AgentConfiguration, expected);
        QCOMPARE(AgentConfigurationStore::parse(text), expected);
    }

    void reportsTheFirstFault_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");

        const QString invalidToken =
            QStringLiteral("Введите корректный токен устройства Quorvane.");
        QTest::newRow("line without =")
            << QStringLiteral("workspace") << QStringLiteral("строка 1 не содержит знак =");
        QTest::newRow("comment and blank lines are counted")
            << QStringLiteral("# a\n\n   # b\n\t\nbroken\n")
            << QStringLiteral("строка 5 не содержит знак =");
        QTest::newRow("CR LF counts once, LF CR twice")
            << QStringLiteral("#\r\n#\n\rbroken") << QStringLiteral("строка 4 не содержит знак =");
        QTest::newRow("every break character counts")
            << QStringLiteral("#\v#\f#\u0085#\u2028#\u2029#\rbroken")
            << QStringLiteral("строка 7 не содержит знак =");
        QTest::newRow("second token line, itself invalid")
            << QStringLiteral("token=%1\n\ntoken=nonsense").arg(validToken())
            << QStringLiteral("параметр token повторяется");
        QTest::newRow("invalid token") << QStringLiteral("token=qv_agent_short") << invalidToken;
        QTest::newRow("keys are case-sensitive") << QStringLiteral("Token=%1").arg(validToken())
                                                 << QStringLiteral("неизвестный параметр Token");
        QTest::newRow("unknown key keeps inner spaces")
            << QStringLiteral("  log level = 3")
            << QStringLiteral("неизвестный параметр log level");
        QTest::newRow("empty key")
            << QStringLiteral("=x") << QStringLiteral("неизвестный параметр ");
        QTest::newRow("upper-case prefix")
            << QStringLiteral("WORKSPACE.%1=/a").arg(idA)
            << QStringLiteral("неизвестный параметр WORKSPACE.%1").arg(idA);
        QTest::newRow("# inside a key") << QStringLiteral("\nworkspace.%1#x=/a").arg(idA)
                                        << QStringLiteral("некорректный UUID в строке 2");
        QTest::newRow("identifier not a UUID") << QStringLiteral("workspace.folder=/a")
                                               << QStringLiteral("некорректный UUID в строке 1");
        QTest::newRow("identifier in braces") << QStringLiteral("workspace.{%1}=/a").arg(idA)
                                              << QStringLiteral("некорректный UUID в строке 1");
        QTest::newRow("workspace..write") << QStringLiteral("#\n#\nworkspace..write=true")
                                          << QStringLiteral("некорректный UUID в строке 3");
        QTest::newRow("upper-case .WRITE is a path key")
            << QStringLiteral("workspace.%1.WRITE=true").arg(idA)
            << QStringLiteral("некорректный UUID в строке 1");
        QTest::newRow("identifier fault comes before the value")
            << QStringLiteral("workspace.x.write=maybe")
            << QStringLiteral("некорректный UUID в строке 1");
        QTest::newRow("same folder in two cases")
            << QStringLiteral("workspace.%1=/a\nworkspace.%2=/b").arg(idA.toUpper(), idA)
            << QStringLiteral("workspace.%1 повторяется").arg(idA);
        QTest::newRow("same folder behind a doubled prefix")
            << QStringLiteral("workspace.%1=/a\nworkspace.workspace.%1=/b").arg(idA)
            << QStringLiteral("workspace.%1 повторяется").arg(idA);
        QTest::newRow("duplicate comes before the value test")
            << QStringLiteral("workspace.%1=/a\nworkspace.%1=relative").arg(idA)
            << QStringLiteral("workspace.%1 повторяется").arg(idA);
        QTest::newRow("empty path") << QStringLiteral("workspace.%1=  ").arg(idA)
                                    << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        QTest::newRow("relative path") << QStringLiteral("workspace.%1=srv/a").arg(idA)
                                       << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        QTest::newRow("home-relative path")
            << QStringLiteral("workspace.%1=~/a").arg(idA)
            << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        QTest::newRow("NUL in path")
            << QStringLiteral("workspace.%1=/a").arg(idA) + QChar(u'\0') + QStringLiteral("b")
            << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        // Written back as "/a/ ", this would read as "/a": another folder.
        QTest::newRow("ends in a space once standardised")
            << QStringLiteral("workspace.%1=/a/ /").arg(idA)
            << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        QTest::newRow("ends in a Unicode space once standardised")
            << QStringLiteral("workspace.%1=/a/\u3000/b/..").arg(idA)
            << QStringLiteral("путь workspace.%1 некорректен").arg(idA);
        QTest::newRow("second write flag")
            << QStringLiteral("workspace.%1.write=true\nworkspace.%2.write=true")
                   .arg(idA, idA.toUpper())
            << QStringLiteral("workspace.%1.write повторяется").arg(idA);
        QTest::newRow("write flag in upper case")
            << QStringLiteral("workspace.%1=/a\nworkspace.%1.write=TRUE").arg(idA)
            << QStringLiteral("workspace.%1.write должен быть true или false").arg(idA);
        QTest::newRow("write flag neither true nor false")
            << QStringLiteral("workspace.%1.write=yes").arg(idA)
            << QStringLiteral("workspace.%1.write должен быть true или false").arg(idA);
        QTest::newRow("write flag without a path line")
            << QStringLiteral("workspace.%1=/a\nworkspace.%2.write=false").arg(idA, idB)
            << QStringLiteral("для workspace.%1.write не задан путь").arg(idB);
        QTest::newRow("several write flags without a path line")
            << QStringLiteral("workspace.%2.write=true\nworkspace.%1.write=false").arg(idA, idB)
            << QStringLiteral("для workspace.%1.write не задан путь").arg(idA);
    }

    void reportsTheFirstFault() {
        QFETCH(QString, text);
        QFETCH(QString, detail);
        QCOMPARE(parseFailure(text), detail);
    }

    void malformedMessageCarriesTheDetail() {
        try {
            AgentConfigurationStore::parse(QStringLiteral("x"));
            QFAIL("parsed");
        } catch (const AgentConfigurationError& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Некорректная конфигурация: строка 1 не содержит знак ="));
        }
    }

    void serializesRootsInIdOrder() {
        const AgentConfiguration configuration{
            validToken(),
            {{idB, QStringLiteral("/srv/b c"), true}, {idA, QStringLiteral("/srv/a=1"), false}}};
        QCOMPARE(AgentConfigurationStore::serialize(configuration),
                 QStringLiteral("# Quorvane Agent — управляется приложением Quorvane\n"
                                "workspace.%1=/srv/a=1\nworkspace.%1.write=false\n"
                                "workspace.%2=/srv/b c\nworkspace.%2.write=true\n")
                     .arg(idA, idB));
    }

    void serializesNoRootsAsTheHeaderAlone() {
        QCOMPARE(AgentConfigurationStore::serialize({validToken(), {}}),
                 QStringLiteral("# Quorvane Agent — управляется приложением Quorvane\n"));
    }

    void roundTripsGeneratedConfigurations() {
        QRandomGenerator random(20240517);
        for (int sample = 0; sample < 500; ++sample) {
            AgentConfiguration configuration;
            const int count = random.bounded(0, 20);
            for (int i = 0; i < count; ++i) {
                configuration.workspaceRoots.append(
                    {randomUuid(random), randomPath(random), random.bounded(2) == 1});
            }
            const AgentConfiguration parsed =
                AgentConfigurationStore::parse(AgentConfigurationStore::serialize(configuration));
            std::sort(configuration.workspaceRoots.begin(), configuration.workspaceRoots.end(),
                      [](const auto& a, const auto& b) { return a.id < b.id; });
            QCOMPARE(parsed, configuration);
        }
    }

    // Arbitrary text either parses or fails with the configuration error, never otherwise, and
    // what parses is written back to the same roots.
    void survivesArbitraryText() {
        QRandomGenerator random(7);
        static const QString pieces[] = {QStringLiteral("workspace."), idA,
                                         QStringLiteral(".write"),     QStringLiteral("="),
                                         QStringLiteral("token"),      QStringLiteral("true"),
                                         QStringLiteral("/a"),         QStringLiteral("\n"),
                                         QStringLiteral("\r"),         QStringLiteral("#"),
                                         QStringLiteral(" "),          QStringLiteral("\u2028"),
                                         QStringLiteral("/"),          QStringLiteral("/.."),
                                         QString(QChar(u'\0'))};
        for (int sample = 0; sample < 2000; ++sample) {
            QString text;
            const int count = random.bounded(0, 30);
            for (int i = 0; i < count; ++i) {
                text += pieces[random.bounded(int(std::size(pieces)))];
            }
            std::optional<AgentConfiguration> parsed;
            try {
                parsed = AgentConfigurationStore::parse(text);
            } catch (const AgentConfigurationError&) {
                continue;
            }
            const QString written = AgentConfigurationStore::serialize(*parsed);
            QCOMPARE(AgentConfigurationStore::parse(written).workspaceRoots,
                     parsed->workspaceRoots);
        }
    }
};

QTEST_APPLESS_MAIN(TestAgentConfigurationFormat)
#include "tst_AgentConfigurationFormat.moc"
