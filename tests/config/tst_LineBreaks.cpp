#include <QTest>

#include "config/LineBreaks.h"

using namespace quorvane;

class TestLineBreaks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void split_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("empty") << QString() << QStringList{QString()};
        QTest::newRow("no break") << QStringLiteral("a") << QStringList{QStringLiteral("a")};
        QTest::newRow("final LF adds an empty line")
            << QStringLiteral("a\n") << QStringList{QStringLiteral("a"), QString()};
        QTest::newRow("CR LF is one break")
            << QStringLiteral("a\r\nb") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("LF CR is two breaks")
            << QStringLiteral("a\n\rb")
            << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
        QTest::newRow("every break character")
            << QStringLiteral("1\n2\v3\f4\r5\u00856\u20287\u20298")
            << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                           QStringLiteral("7"), QStringLiteral("8")};
        QTest::newRow("blank lines are kept")
            << QStringLiteral("\n\n") << QStringList{QString(), QString(), QString()};
        QTest::newRow("CR at the end")
            << QStringLiteral("a\r") << QStringList{QStringLiteral("a"), QString()};
    }

    void split() {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QStringList actual;
        for (QStringView line : LineBreaks::split(text)) {
            actual.append(line.toString());
        }
        QCOMPARE(actual, lines);
    }

    void containsLineBreak_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("contains");
        QTest::newRow("plain") << QStringLiteral("/home/a b") << false;
        QTest::newRow("tab is no break") << QStringLiteral("a\tb") << false;
        QTest::newRow("NEL") << QStringLiteral("a\u0085") << true;
        QTest::newRow("paragraph separator") << QStringLiteral("\u2029") << true;
    }

    void containsLineBreak() {
        QFETCH(QString, text);
        QFETCH(bool, contains);
        QCOMPARE(LineBreaks::containsLineBreak(text), contains);
    }
};

QTEST_APPLESS_MAIN(TestLineBreaks)
#include "tst_LineBreaks.moc"
