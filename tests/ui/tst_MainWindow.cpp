#include <QAccessible>
#include <QColor>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <functional>

#include "tests/ui/PanelFixture.h"
#include "tests/ui/WindowDriver.h"
#include "ui/SystemColors.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

const QString configureDetail = QStringLiteral(
    "Откройте настройку подключения и вставьте токен устройства из кабинета Quorvane.");
const QString updateInstruction = QStringLiteral(
    "В beta обновление вручную: завершите Quorvane и установите новый пакет. Настройки "
    "сохранятся.");
const QString validToken = QStringLiteral("qv_agent_") + QString(43, u'A');

QString accessibleName(QQuickItem* item) {
    QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(item);
    return interface ? interface->text(QAccessible::Name) : QString();
}

QList<WorkspaceRootConfiguration> roots(int count) {
    QList<WorkspaceRootConfiguration> list;
    for (int index = 0; index < count; ++index) {
        list.append({QStringLiteral("00000000-0000-4000-8000-00000000000%1").arg(index),
                     QStringLiteral("/srv/folder%1").arg(index), index % 2 == 0});
    }
    return list;
}

PanelScenario withRegistration(const AgentServiceState& registration) {
    PanelScenario scenario;
    scenario.registration = registration;
    return scenario;
}

// Everything the main window and the sheet can show at once: the configure button, folders, a
// log, a chosen folder and a typed folder code.
PanelScenario everythingShown() {
    PanelScenario scenario = PanelScenario::reporting(QStringLiteral("needs_configuration"));
    scenario.token = validToken;
    scenario.workspaceRoots = roots(2);
    scenario.chosenFolder = QStringLiteral("/srv/chosen");
    for (int line = 0; line < 20; ++line) {
        scenario.agentLog.append(QStringLiteral("12:00:%1  событие %1").arg(line));
    }
    return scenario;
}

using Preparation = std::function<void(PanelFixture&)>;

// What pressing a control can change: the view model's properties and what the window shows.
struct Observed {
    QVariantList model;
    QImage picture;
    bool operator==(const Observed&) const = default;
};

Observed observe(PanelFixture& panel) {
    Observed observed{{}, panel.window().grabWindow()};
    const QMetaObject* type = panel.model().metaObject();
    for (int index = type->propertyOffset(); index < type->propertyCount(); ++index) {
        observed.model.append(type->property(index).read(&panel.model()));
    }
    return observed;
}

void openSheet(PanelFixture& panel) {
    panel.model().setWorkspaceSheetPresented(true);
    panel.settle();
}

void openSheetWithDrafts(PanelFixture& panel) {
    panel.model().setWorkspaceRootIDDraft(QStringLiteral("00000000-0000-4000-8000-000000000009"));
    panel.model().selectWorkspaceFolder();
    openSheet(panel);
}

// Relative luminance and contrast ratio as WCAG defines them.
double luminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

// `layers` painted bottom up, each over what lies below it by its own opacity.
QColor composite(const QList<QColor>& layers) {
    QColor result = layers.constFirst();
    for (const QColor& layer : layers.sliced(1)) {
        const double alpha = layer.alphaF();
        result = QColor::fromRgbF(layer.redF() * alpha + result.redF() * (1 - alpha),
                                  layer.greenF() * alpha + result.greenF() * (1 - alpha),
                                  layer.blueF() * alpha + result.blueF() * (1 - alpha));
    }
    return result;
}

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(alpha);
    return colour;
}

// The panel's theme colours, as the views read them.
QVariantMap themeColours() {
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    component.setData(
        "import QtQuick\nimport Quorvane.Ui\nQtObject {\n"
        "property var colours: ({ background: QuorvaneTheme.background,\n"
        "  card: QuorvaneTheme.cardBackground, logText: QuorvaneTheme.logText,\n"
        "  accentFill: QuorvaneTheme.accentFill, focusRing: QuorvaneTheme.focusRing })\n}",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    return object ? object->property("colours").toMap() : QVariantMap();
}

// Every accessible object under `interface`, depth first.
void collectAccessible(QAccessibleInterface* interface, QList<QAccessibleInterface*>& found) {
    found.append(interface);
    for (int index = 0; index < interface->childCount(); ++index) {
        if (QAccessibleInterface* child = interface->child(index)) {
            collectAccessible(child, found);
        }
    }
}

}  // namespace

Q_DECLARE_METATYPE(quorvane::testing::PanelScenario)
Q_DECLARE_METATYPE(Preparation)

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void keyboardFocusIsDrawn_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<Preparation>("prepare");
        QTest::addColumn<QString>("control");

        const Preparation nothing = [](PanelFixture&) {};
        for (const char* control :
             {"agent.powerButton", "agent.configureConnection", "workspace.configure",
              "agent.logHeader", "agent.checkUpdates"}) {
            QTest::newRow(control) << everythingShown() << nothing << QString::fromUtf8(control);
        }
        QTest::newRow("agent.openLoginItemsSettings")
            << withRegistration(AgentServiceState::requiresApproval()) << nothing
            << u"agent.openLoginItemsSettings"_s;
        for (const char* control :
             {"configuration.replaceToken", "workspace.rootID", "workspace.selectFolder",
              "workspace.writeEnabled", "workspace.savedRoot.remove", "workspace.done"}) {
            QTest::newRow(control)
                << everythingShown() << Preparation(openSheet) << QString::fromUtf8(control);
        }
        QTest::newRow("workspace.save")
            << everythingShown() << Preparation(openSheetWithDrafts) << u"workspace.save"_s;
        QTest::newRow("configuration.agentToken")
            << PanelScenario() << Preparation(openSheet) << u"configuration.agentToken"_s;
    }

    void keyboardFocusIsDrawn() {
        QFETCH(PanelScenario, scenario);
        QFETCH(Preparation, prepare);
        QFETCH(QString, control);

        PanelFixture panel(scenario);
        prepare(panel);
        WindowDriver driver(panel.window());
        QQuickItem* item = driver.item(control);
        QVERIFY(item->isEnabled());
        driver.reveal(item);
        const QRect around = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()))
                                 .toAlignedRect()
                                 .adjusted(-6, -6, 6, 6);
        const QImage before = panel.window().grabWindow().copy(around);

        item->forceActiveFocus(Qt::TabFocusReason);
        driver.settle();
        QVERIFY(item->hasActiveFocus());
        QVERIFY(panel.window().grabWindow().copy(around) != before);
    }

    void tabFollowsTheReadingOrder_data() {
        QTest::addColumn<Preparation>("prepare");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("main window")
            << Preparation([](PanelFixture&) {})
            << QStringList{u"agent.powerButton"_s, u"agent.configureConnection"_s,
                           u"workspace.configure"_s, u"agent.logHeader"_s, u"agent.checkUpdates"_s};
        QTest::newRow("sheet") << Preparation(openSheet)
                               << QStringList{u"configuration.replaceToken"_s,
                                              u"workspace.rootID"_s,
                                              u"workspace.selectFolder"_s,
                                              u"workspace.writeEnabled"_s,
                                              u"workspace.savedRoot.remove"_s,
                                              u"workspace.savedRoot.remove"_s,
                                              u"workspace.done"_s};
    }

    void tabFollowsTheReadingOrder() {
        QFETCH(Preparation, prepare);
        QFETCH(QStringList, order);
        PanelFixture panel(everythingShown());
        prepare(panel);
        WindowDriver driver(panel.window());
        QStringList visited;
        for (qsizetype press = 0; press < order.size(); ++press) {
            driver.press(Qt::Key_Tab);
            visited.append(panel.window().activeFocusItem()->objectName());
        }
        QCOMPARE(visited, order);
    }

    void returnAndEnterPressTheFocusedControl_data() { keyboardFocusIsDrawn_data(); }

    void returnAndEnterPressTheFocusedControl() {
        QFETCH(PanelScenario, scenario);
        QFETCH(Preparation, prepare);
        QFETCH(QString, control);

        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            PanelFixture panel(scenario);
            prepare(panel);
            WindowDriver driver(panel.window());
            QQuickItem* item = driver.item(control);
            driver.reveal(item);
            item->forceActiveFocus(Qt::TabFocusReason);
            driver.settle();
            // A text field takes Return without acting; every other control acts.
            const bool field = item->inherits("QQuickTextField");
            const Observed before = observe(panel);
            driver.press(key);
            QVERIFY2((observe(panel) == before) == field,
                     key == Qt::Key_Return ? "Return" : "Enter");
        }
    }

    void mainWindowFitsSmallAndScaledScreens_data() {
        QTest::addColumn<QString>("screenName");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<int>("windowHeight");

        QTest::newRow("1366×768") << u"laptop"_s << 1.0 << 0;
        QTest::newRow("1920×1080 at 150 %") << u"scaled"_s << 1.5 << 0;
        // What a top panel and a title bar leave of that screen.
        QTest::newRow("1920×1080 at 150 % under panels") << u"scaled"_s << 1.5 << 600;
    }

    void mainWindowFitsSmallAndScaledScreens() {
        QFETCH(QString, screenName);
        QFETCH(qreal, scale);
        QFETCH(int, windowHeight);

        PanelFixture panel(everythingShown());
        panel.model().setLogExpanded(true);
        panel.model().setUpdateStatus(updateInstruction);
        QQuickWindow& window = panel.window();
        WindowDriver driver(window);
        const QScreen* screen = driver.moveToScreen(screenName);
        QCOMPARE(screen->devicePixelRatio(), scale);
        if (windowHeight > 0) {
            window.resize(window.width(), windowHeight);
        }
        panel.settle();
        const QRect room = screen->availableGeometry();
        QVERIFY(window.width() <= room.width());
        QVERIFY(window.height() < room.height());
        QVERIFY(windowHeight == 0 || window.height() == windowHeight);

        for (const char* control :
             {"agent.powerButton", "agent.status.detail", "agent.configureConnection",
              "workspace.configure", "agent.logHeader", "agent.log", "app.version",
              "agent.checkUpdates", "agent.updateStatus", "app.credit"}) {
            QQuickItem* item = driver.item(QString::fromUtf8(control));
            driver.reveal(item);
            QVERIFY2(WindowDriver::showsWhole(item), control);
        }
    }

    void screenReadersFindEveryControlTheFoldersAndTheLog() {
        PanelFixture panel(everythingShown());
        panel.model().setLogExpanded(true);
        panel.model().refresh();
        openSheetWithDrafts(panel);

        QList<QAccessibleInterface*> all;
        collectAccessible(QAccessible::queryAccessibleInterface(&panel.window()), all);
        QStringList texts;
        int interactive = 0;
        for (QAccessibleInterface* interface : all) {
            const QString name = interface->text(QAccessible::Name);
            texts.append(name);
            const QAccessible::Role role = interface->role();
            if (!interface->state().invisible &&
                (role == QAccessible::Button || role == QAccessible::PushButton ||
                 role == QAccessible::CheckBox || role == QAccessible::EditableText)) {
                ++interactive;
                QVERIFY2(!name.trimmed().isEmpty(),
                         qPrintable(u"unnamed control of role %1"_s.arg(int(role))));
            }
        }
        // Power, card, log header, update; token, code, folder, switch, save, two removals, done.
        QVERIFY(interactive >= 12);
        const auto mentioned = [&texts](const QString& text) {
            return std::any_of(texts.begin(), texts.end(),
                               [&text](const QString& name) { return name.contains(text); });
        };
        for (const WorkspaceRootConfiguration& root : roots(2)) {
            QVERIFY2(mentioned(root.path), qPrintable(root.path));
        }
        for (const QString& line : everythingShown().agentLog) {
            QVERIFY2(mentioned(line), qPrintable(line));
        }
        QVERIFY(mentioned(u"Код папки из кабинета"_s));
    }

    void themeTextKeepsItsContrast_data() {
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<QList<QColor>>("background");
        QTest::addColumn<double>("minimum");

        const QVariantMap theme = themeColours();
        QVERIFY(!theme.isEmpty());
        const auto colour = [&theme](const char* name) {
            return theme[QString::fromUtf8(name)].value<QColor>();
        };
        const QColor background = colour("background");
        const QColor card = colour("card");
        const QColor sheetBox = withAlpha(Qt::white, 0.04);
        const double smallText = 4.5;
        const double outline = 3.0;

        const QList<std::pair<const char*, QList<QColor>>> surfaces = {
            {"window", {background}}, {"card", {card}}, {"sheet box", {background, sheetBox}}};
        for (const auto& [surface, layers] : surfaces) {
            QTest::addRow("label on %s", surface) << SystemColors::label() << layers << smallText;
            QTest::addRow("secondary on %s", surface)
                << SystemColors::secondaryLabel() << layers << smallText;
            QTest::addRow("focus ring on %s", surface) << colour("focusRing") << layers << outline;
        }
        QTest::newRow("link on window") << SystemColors::blue() << QList{background} << smallText;
        QTest::newRow("link on card") << SystemColors::blue() << QList{card} << smallText;
        QTest::newRow("white on accent button")
            << QColor(Qt::white) << QList{colour("accentFill")} << smallText;
        QTest::newRow("orange on window")
            << SystemColors::orange() << QList{background} << smallText;
        QTest::newRow("orange on card") << SystemColors::orange() << QList{card} << smallText;
        QTest::newRow("green on card") << SystemColors::green() << QList{card} << smallText;
        QTest::newRow("green on saved-token card")
            << SystemColors::green()
            << QList{background, sheetBox, withAlpha(SystemColors::green(), 0.1)} << smallText;
        QTest::newRow("log on its panel")
            << colour("logText") << QList{card, withAlpha(Qt::black, 0.32)} << smallText;
        for (const QColor& pill : {SystemColors::green(), SystemColors::orange(),
                                   SystemColors::red(), SystemColors::secondaryLabel()}) {
            QTest::addRow("pill %s", qPrintable(pill.name(QColor::HexArgb)))
                << pill << QList{background, withAlpha(pill, 0.14)} << smallText;
        }
    }

    void themeTextKeepsItsContrast() {
        QFETCH(QColor, foreground);
        QFETCH(QList<QColor>, background);
        QFETCH(double, minimum);

        const QColor below = composite(background);
        const QColor drawn = composite({below, foreground});
        const double lighter = std::max(luminance(drawn), luminance(below));
        const double darker = std::min(luminance(drawn), luminance(below));
        const double ratio = (lighter + 0.05) / (darker + 0.05);
        QVERIFY2(ratio >= minimum, qPrintable(QString::number(ratio, 'f', 2)));
    }

    void windowKeepsItsMinimumSizeAndRefreshesOnAppearance() {
        PanelFixture panel({});
        QCOMPARE(panel.window().title(), QStringLiteral("Quorvane Agent"));
        QCOMPARE(panel.window().minimumWidth(), 840);
        // On a screen with room the window opens at 840 × 720 at least.
        QVERIFY(panel.window().width() >= 840);
        QVERIFY(panel.window().height() >= 720);
        QVERIFY(panel.controller().refreshCount >= 1);
    }

    void statusCardFollowsTheState_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("powerEnabled");
        QTest::addColumn<QString>("powerLabel");
        QTest::addColumn<QString>("extraButton");
        QTest::addColumn<QColor>("ringColor");

        const QString off = QStringLiteral("Включить Quorvane Agent");
        const QString on = QStringLiteral("Выключить Quorvane Agent");
        const QString configure = QStringLiteral("agent.configureConnection");
        const QString settings = QStringLiteral("agent.openLoginItemsSettings");

        QTest::newRow("needsConfiguration without a token asks for one")
            << PanelScenario::reporting(QStringLiteral("needs_configuration"),
                                        QStringLiteral("нет токена"))
            << u"Нужна настройка"_s << configureDetail << SystemColors::orange() << true << on
            << configure << SystemColors::green();
        PanelScenario tokenSaved = PanelScenario::reporting(QStringLiteral("needs_configuration"),
                                                            QStringLiteral("Добавьте папку"));
        tokenSaved.token = validToken;
        QTest::newRow("needsConfiguration with a token shows the agent's text")
            << tokenSaved << u"Нужна настройка"_s << u"Добавьте папку"_s << SystemColors::orange()
            << true << on << configure << SystemColors::green();
        tokenSaved.health->message.reset();
        QTest::newRow("needsConfiguration with a token and no text asks for a folder")
            << tokenSaved << u"Нужна настройка"_s
            << u"Откройте настройку подключения и добавьте папку Workspace."_s
            << SystemColors::orange() << true << on << configure << SystemColors::green();
        QTest::newRow("serviceError shows the agent's text")
            << PanelScenario::reporting(QStringLiteral("error"), QStringLiteral("Диск недоступен"))
            << u"Ошибка"_s << u"Диск недоступен"_s << SystemColors::red() << true << on << QString()
            << SystemColors::green();
        QTest::newRow("serviceError with an empty text")
            << PanelScenario::reporting(QStringLiteral("error"), QString()) << u"Ошибка"_s
            << QString() << SystemColors::red() << true << on << QString() << SystemColors::green();
        QTest::newRow("serviceError text is shown verbatim, not as markup")
            << PanelScenario::reporting(QStringLiteral("error"), QStringLiteral("<b>x</b> &amp;"))
            << u"Ошибка"_s << u"<b>x</b> &amp;"_s << SystemColors::red() << true << on << QString()
            << SystemColors::green();
        QTest::newRow("failed") << withRegistration(
                                       AgentServiceState::failed(QStringLiteral("Нет шины")))
                                << u"Ошибка"_s << u"Нет шины"_s << SystemColors::red() << true
                                << off << QString() << SystemColors::gray();
        QTest::newRow("stopped") << withRegistration(AgentServiceState::stopped()) << u"Выключен"_s
                                 << u"Агент не запускается в фоне"_s
                                 << SystemColors::secondaryLabel() << true << off << QString()
                                 << SystemColors::gray();
        QTest::newRow("starting while the agent does not answer")
            << withRegistration(AgentServiceState::running()) << u"Подключается"_s
            << u"Фоновая служба запускается"_s << SystemColors::orange() << true << on << QString()
            << SystemColors::green();
        QTest::newRow("running") << PanelScenario::reporting(QStringLiteral("running"))
                                 << u"Включён"_s
                                 << u"Агент работает · состояние соединения — в журнале"_s
                                 << SystemColors::green() << true << on << QString()
                                 << SystemColors::green();
        QTest::newRow("requiresApproval")
            << withRegistration(AgentServiceState::requiresApproval()) << u"Требуется разрешение"_s
            << u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s
            << SystemColors::orange() << true << on << settings << SystemColors::green();
        QTest::newRow("unavailable cannot be switched")
            << withRegistration(AgentServiceState::unavailable()) << u"Служба недоступна"_s
            << u"В комплекте приложения не найден фоновый компонент"_s << SystemColors::red()
            << false << off << QString() << SystemColors::gray();
    }

    void statusCardFollowsTheState() {
        QFETCH(PanelScenario, scenario);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(QColor, color);
        QFETCH(bool, powerEnabled);
        QFETCH(QString, powerLabel);
        QFETCH(QString, extraButton);
        QFETCH(QColor, ringColor);

        PanelFixture panel(scenario);
        QQuickItem* pill = panel.item(u"agent.status.title"_s);
        QCOMPARE(pill->property("text").toString(), title);
        QCOMPARE(pill->property("color").value<QColor>(), color);
        QCOMPARE(panel.item(u"agent.status.detail"_s)->property("text").toString(), detail);
        // A long sentence wraps; it does not widen the window.
        QCOMPARE(panel.window().width(), 840);
        QQuickItem* power = panel.item(u"agent.powerButton"_s);
        QCOMPARE(power->isEnabled(), powerEnabled);
        // The action, then the state.
        QCOMPARE(accessibleName(power), powerLabel + u". Состояние: "_s + title);
        QCOMPARE(panel.item(u"disc"_s)->property("border").value<QObject*>()->property("color"),
                 QVariant(ringColor));
        QVERIFY(panel.item(u"powerSymbol"_s)->isVisible());
        QVERIFY(!panel.item(u"spinner"_s)->isVisible());
        for (const QString& button :
             {u"agent.configureConnection"_s, u"agent.openLoginItemsSettings"_s}) {
            QCOMPARE(panel.item(button)->isVisible(), button == extraButton);
        }
        if (!extraButton.isEmpty()) {
            // Below the detail sentence, also when it appears only after the first refresh.
            QTRY_VERIFY(panel.item(extraButton)->y() >
                        panel.item(u"agent.status.detail"_s)->y() +
                            panel.item(u"agent.status.detail"_s)->height());
        }
    }

    void powerButtonSwitchesOnAndShowsItselfBusy() {
        PanelFixture panel({});
        panel.controller().startCompletesAtOnce = false;
        panel.click(panel.item(u"agent.powerButton"_s));
        QCOMPARE(panel.controller().changeCount(u"start"_s), 1);
        QVERIFY(panel.model().isChangingState());
        QVERIFY(panel.item(u"spinner"_s)->isVisible());
        QVERIFY(!panel.item(u"powerSymbol"_s)->isVisible());
        QVERIFY(!panel.item(u"agent.powerButton"_s)->isEnabled());

        panel.click(panel.item(u"agent.powerButton"_s));
        QCOMPARE(panel.controller().changeCount(u"start"_s), 1);

        panel.controller().finishStart();
        QVERIFY(!panel.model().isChangingState());
        QVERIFY(panel.item(u"agent.powerButton"_s)->isEnabled());
        QCOMPARE(panel.item(u"agent.status.title"_s)->property("text").toString(),
                 u"Подключается"_s);
    }

    void hoveringEnlargesThePowerButtonAndBrightensItsGlow() {
        PanelFixture panel({});
        QQuickItem* power = panel.item(u"agent.powerButton"_s);
        auto* drawing = power->property("contentItem").value<QQuickItem*>();
        QQuickItem* glow = panel.item(u"glow"_s);
        QCOMPARE(drawing->scale(), 1.0);
        QCOMPARE(glow->opacity(), 0.2);

        // An offscreen window starts hovering from the second pointer move on.
        QTest::mouseMove(&panel.window(), power->mapToScene(QPointF(100, 100)).toPoint());
        QTest::mouseMove(&panel.window(), power->mapToScene(QPointF(106, 106)).toPoint());
        QTRY_VERIFY(power->property("isHovering").toBool());
        QTRY_COMPARE_WITH_TIMEOUT(drawing->scale(), 1.015, 1000);
        QCOMPARE(glow->opacity(), 0.32);
        QCOMPARE(glow->property("blurRadius").toReal(), 1.0);

        QTest::mouseMove(&panel.window(), QPoint(2, 2));
        QTRY_COMPARE_WITH_TIMEOUT(drawing->scale(), 1.0, 1000);
        QCOMPARE(glow->opacity(), 0.2);
    }

    void powerButtonSwitchesOff() {
        PanelFixture panel(PanelScenario::reporting(QStringLiteral("running")));
        panel.click(panel.item(u"agent.powerButton"_s));
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
        QCOMPARE(panel.item(u"agent.status.title"_s)->property("text").toString(), u"Выключен"_s);
    }

    void configureConnectionOpensTheSheetAndDoneClosesIt() {
        PanelFixture panel(PanelScenario::reporting(QStringLiteral("needs_configuration")));
        panel.click(panel.item(u"agent.configureConnection"_s));
        QVERIFY(panel.model().isWorkspaceSheetPresented());
        panel.settle();
        QVERIFY(panel.item(u"workspace.sheet"_s)->isVisible());

        panel.click(panel.item(u"workspace.done"_s));
        QVERIFY(!panel.model().isWorkspaceSheetPresented());
        QVERIFY(!panel.sheetIsOpen());
    }

    void sheetFollowsThePropertyAndEscapeClearsIt() {
        PanelFixture panel({});
        panel.model().setWorkspaceSheetPresented(true);
        panel.settle();
        QVERIFY(panel.sheetIsOpen());
        QTest::keyClick(&panel.window(), Qt::Key_Escape);
        QVERIFY(!panel.model().isWorkspaceSheetPresented());
        QVERIFY(!panel.sheetIsOpen());

        panel.model().setWorkspaceSheetPresented(true);
        panel.model().setWorkspaceSheetPresented(false);
        QVERIFY(!panel.sheetIsOpen());
    }

    void approvalButtonLiftsTheMaskAndLeavesTheAgentOff() {
        PanelFixture panel(withRegistration(AgentServiceState::requiresApproval()));
        panel.click(panel.item(u"agent.openLoginItemsSettings"_s));
        QCOMPARE(panel.controller().changes, QStringList{u"unmask"_s});
        QCOMPARE(panel.model().serviceState(), AgentServiceState::stopped());
    }

    void workspaceCardSummarisesTokenFoldersAndUser_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<QString>("tokenLine");
        QTest::addColumn<QString>("tokenSymbol");
        QTest::addColumn<QColor>("tokenColor");
        QTest::addColumn<QString>("folderLine");
        QTest::addColumn<QString>("userLine");

        PanelScenario empty;
        QTest::newRow("no token, no folders")
            << empty << u"Токен не добавлен"_s << u"security-low-symbolic"_s
            << SystemColors::orange() << u"Локальные папки: не добавлены"_s
            << u"Пользователь: Анна Смирнова"_s;

        PanelScenario saved;
        saved.token = validToken;
        saved.workspaceRoots = roots(3);
        saved.fullUserName.clear();
        QTest::newRow("saved token, three folders, no full name")
            << saved << u"Токен сохранён"_s << u"security-high-symbolic"_s << SystemColors::green()
            << u"Локально сохранено папок: 3"_s << u"Пользователь: anna"_s;

        PanelScenario locked;
        locked.token = validToken;
        locked.keyringLocked = true;
        locked.workspaceRoots = roots(1);
        QTest::newRow("locked keyring")
            << locked << u"Токен: нужен доступ к хранилищу паролей"_s << u"security-low-symbolic"_s
            << SystemColors::orange() << u"Локально сохранено папок: 1"_s
            << u"Пользователь: Анна Смирнова"_s;
    }

    void workspaceCardSummarisesTokenFoldersAndUser() {
        QFETCH(PanelScenario, scenario);
        QFETCH(QString, tokenLine);
        QFETCH(QString, tokenSymbol);
        QFETCH(QColor, tokenColor);
        QFETCH(QString, folderLine);
        QFETCH(QString, userLine);

        PanelFixture panel(scenario);
        QQuickItem* token = panel.item(u"workspace.tokenStatus"_s);
        QCOMPARE(token->property("text").toString(), tokenLine);
        QCOMPARE(token->property("symbol").toString(), tokenSymbol);
        QCOMPARE(token->property("color").value<QColor>(), tokenColor);
        QCOMPARE(panel.item(u"workspace.folderStatus"_s)->property("text").toString(), folderLine);
        QCOMPARE(panel.item(u"workspace.account"_s)->property("text").toString(), userLine);
    }

    void tokenSymbolFollowsTheSavedTokenAlsoWhileAccessIsNeeded() {
        PanelScenario scenario;
        scenario.token = validToken;
        scenario.keyringRefusesSave = true;
        PanelFixture panel(scenario);
        panel.model().setTokenDraft(validToken);
        QVERIFY(panel.model().saveToken());
        QTRY_VERIFY(panel.model().tokenAccessNeeded());

        QQuickItem* token = panel.item(u"workspace.tokenStatus"_s);
        QCOMPARE(token->property("text").toString(), u"Токен: нужен доступ к хранилищу паролей"_s);
        QCOMPARE(token->property("symbol").toString(), u"security-high-symbolic"_s);
        QCOMPARE(token->property("color").value<QColor>(), SystemColors::green());
    }

    void workspaceCardOpensTheSheet() {
        PanelFixture panel({});
        QQuickItem* card = panel.item(u"workspace.configure"_s);
        QCOMPARE(accessibleName(card), u"Настройки подключения и локальных папок"_s);
        // A click near the card's edge, away from any text, still counts.
        QTest::mouseClick(&panel.window(), Qt::LeftButton, {},
                          card->mapToScene(QPointF(card->width() - 4, 4)).toPoint());
        QVERIFY(panel.model().isWorkspaceSheetPresented());
    }

    void pressedCardDimsShrinksAndTurnsBlue() {
        PanelFixture panel({});
        QQuickItem* card = panel.item(u"workspace.configure"_s);
        QQuickItem* fill = panel.item(u"cardFill"_s);
        const QPoint centre = card->mapToScene(QPointF(card->width() / 2, 10)).toPoint();

        QTest::mousePress(&panel.window(), Qt::LeftButton, {}, centre);
        QCOMPARE(fill->opacity(), 0.78);
        QCOMPARE(card->scale(), 0.995);
        QQuickItem* outline = panel.item(u"cardOutline"_s);
        const auto pressedBorder =
            outline->property("border").value<QObject*>()->property("color").value<QColor>();
        QCOMPARE(pressedBorder.rgb(), SystemColors::blue().rgb());

        QTest::mouseRelease(&panel.window(), Qt::LeftButton, {}, centre);
        QCOMPARE(fill->opacity(), 1.0);
        QCOMPARE(card->scale(), 1.0);
    }

    void logPanelOpensAndClosesWithTheViewModel() {
        PanelScenario scenario = PanelScenario::reporting(QStringLiteral("running"));
        scenario.agentLog = {u"10:00:00  агент запущен"_s, u"10:00:01  подключено"_s};
        PanelFixture panel(scenario);
        QQuickItem* log = panel.item(u"agent.log"_s);
        QVERIFY(!log->isVisible());

        panel.click(panel.item(u"agent.logHeader"_s));
        QVERIFY(panel.model().isLogExpanded());
        panel.settle();
        QVERIFY(log->isVisible());
        QVERIFY(log->height() >= 112 && log->height() <= 180);
        QCOMPARE(log->property("text").toString(), panel.model().logEntries().join(u'\n'));

        panel.model().refresh();
        QCOMPARE(log->property("text").toString(), scenario.agentLog.join(u'\n'));

        panel.click(panel.item(u"agent.logHeader"_s));
        QVERIFY(!panel.model().isLogExpanded());
        QVERIFY(!log->isVisible());

        panel.model().setLogExpanded(true);
        QVERIFY(log->isVisible());
    }

    void logAreaStaysWithinItsBounds() {
        PanelScenario scenario;
        for (int line = 0; line < 300; ++line) {
            scenario.agentLog.append(QStringLiteral("12:00:%1  строка").arg(line));
        }
        PanelFixture panel(scenario);
        panel.model().setLogExpanded(true);
        panel.model().refresh();
        panel.settle();
        QQuickItem* log = panel.item(u"agent.log"_s);
        QVERIFY(log->height() >= 112 && log->height() <= 180);

        panel.window().resize(900, 1400);
        panel.settle();
        QCOMPARE(log->height(), 180.0);
    }

    void footerShowsVersionAndTheUpdateInstructionOnce() {
        PanelFixture panel({});
        QCOMPARE(panel.item(u"app.version"_s)->property("text").toString(), u"Версия 1.2 (45)"_s);
        QQuickItem* status = panel.item(u"agent.updateStatus"_s);
        QVERIFY(!status->isVisible());

        panel.click(panel.item(u"agent.checkUpdates"_s));
        panel.click(panel.item(u"agent.checkUpdates"_s));
        QVERIFY(status->isVisible());
        QCOMPARE(status->property("text").toString(), updateInstruction);
        QCOMPARE(panel.model().updateStatus(), updateInstruction);

        // Between the button and the credit, wrapped in the room they leave.
        QQuickItem* button = panel.item(u"agent.checkUpdates"_s);
        QQuickItem* credit = panel.item(u"app.credit"_s);
        QTRY_VERIFY(status->x() >= button->x() + button->width());
        QVERIFY(status->x() + status->width() <= credit->x());
        QCOMPARE(button->width(), std::ceil(button->implicitWidth()));
        QCOMPARE(credit->width(), std::ceil(credit->implicitWidth()));
        QCOMPARE(credit->x() + credit->width(), credit->parentItem()->width());
        QCOMPARE(panel.window().width(), 840);
    }

    void headerWithoutLogoStartsWithTheDivider() {
        PanelFixture panel({});
        QQuickItem* logo = panel.item(u"app.logo"_s);
        QVERIFY(logo->isVisible());
        QQuickItem* header = logo->parentItem();
        header->setProperty("logoSource", QUrl(u"qrc:/missing-logo.png"_s));
        panel.settle();
        QVERIFY(!logo->isVisible());
        QCOMPARE(panel.item(u"app.divider"_s)->x(), 0.0);
        QCOMPARE(panel.item(u"app.title"_s)->property("text").toString(), u"Агент для Linux"_s);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_MainWindow.moc"
