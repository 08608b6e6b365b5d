// Every surface of the window on this Linux build: the main window in each state, the sheet
// and its token section, the feedback lines. None may speak of the Mac or its system settings.
#include <QTest>
#include <functional>

#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

using Steps = std::function<void(PanelFixture&)>;

const QStringList foreignWords{u"macOS"_s, u"Mac "_s, u"Связк"_s, u"«Программы»"_s,
                               u"«Объекты входа»"_s};
const QString validToken = u"qv_agent_"_s + QString(43, u'A');

PanelScenario registered(const AgentServiceState& registration) {
    PanelScenario scenario;
    scenario.registration = registration;
    return scenario;
}

void collectTexts(QQuickItem* item, QStringList& texts) {
    for (const char* property : {"text", "title", "placeholderText"}) {
        const QVariant value = item->property(property);
        if (value.metaType() == QMetaType::fromType<QString>()) {
            texts.append(value.toString());
        }
    }
    for (QQuickItem* child : item->childItems()) {
        collectTexts(child, texts);
    }
}

}  // namespace

Q_DECLARE_METATYPE(quorvane::testing::PanelScenario)
Q_DECLARE_METATYPE(Steps)

class TestLinuxWording : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noSurfaceNamesTheMac_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<Steps>("steps");

        const Steps look = [](PanelFixture&) {};
        const Steps openSheet = [](PanelFixture& panel) {
            panel.model().setWorkspaceSheetPresented(true);
        };
        for (const AgentServiceState& state :
             {AgentServiceState::stopped(), AgentServiceState::requiresApproval(),
              AgentServiceState::unavailable(), AgentServiceState::failed(u"x"_s),
              AgentServiceState::running()}) {
            QTest::addRow("main window, %s", qPrintable(state.title()))
                << registered(state) << look;
        }
        QTest::newRow("main window, running") << PanelScenario::reporting(u"running"_s) << look;
        QTest::newRow("main window, needs configuration")
            << PanelScenario::reporting(u"needs_configuration"_s) << look;
        QTest::newRow("footer update note")
            << PanelScenario()
            << Steps([](PanelFixture& panel) { panel.click(panel.item(u"agent.checkUpdates"_s)); });

        PanelScenario locked;
        locked.token = validToken;
        locked.keyringLocked = true;
        QTest::newRow("main window and sheet, token access needed") << locked << openSheet;
        PanelScenario folders = PanelScenario::reporting(u"running"_s);
        folders.token = validToken;
        folders.workspaceRoots = {{u"00000000-0000-4000-8000-000000000001"_s, u"/srv/a"_s, true}};
        QTest::newRow("sheet, token saved, folders") << folders << openSheet;
        QTest::newRow("sheet, token stored message")
            << PanelScenario::reporting(u"running"_s) << Steps([](PanelFixture& panel) {
                   panel.model().setWorkspaceSheetPresented(true);
                   panel.model().setTokenDraft(validToken);
                   panel.model().saveToken();
               });
        QTest::newRow("sheet, folder refused while off")
            << PanelScenario() << Steps([](PanelFixture& panel) {
                   panel.model().setWorkspaceSheetPresented(true);
                   panel.model().saveWorkspace();
               });
    }

    void noSurfaceNamesTheMac() {
        QFETCH(PanelScenario, scenario);
        QFETCH(Steps, steps);
        PanelFixture panel(scenario);
        steps(panel);
        panel.settle();

        QStringList texts;
        collectTexts(panel.window().contentItem(), texts);
        QVERIFY(texts.size() > 20);
        for (const QString& text : std::as_const(texts)) {
            for (const QString& word : foreignWords) {
                QVERIFY2(!text.contains(word), qPrintable(text));
            }
        }
    }
};

QTEST_MAIN(TestLinuxWording)
#include "tst_LinuxWording.moc"
