#include "agent/AgentServiceMessages.h"

#include "config/PlatformWording.h"

namespace quorvane::AgentServiceMessages {

using namespace Qt::StringLiterals;

QString unknownUnitState() {
    return PlatformWording::current().unknownUnitState();
}

QString noServiceManager(const QString& busMessage) {
    return PlatformWording::current().noServiceManager(busMessage);
}

QString agentFailed() {
    return u"Агент завершился с ошибкой. Выключите и включите агент. Если ошибка повторится, "
           u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s;
}

QString agentRestarting() {
    return u"Агент аварийно завершается, и systemd перезапускает его. Выключите агент и "
           u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s;
}

QString stoppedButEnabled() {
    return u"Агент остановлен, но остаётся в автозапуске systemd. Выключите агент ещё раз, "
           u"чтобы убрать его из автозапуска."_s;
}

QString runtimeMask() {
    return u"Фоновый запуск Quorvane запрещён временной маской systemd, которую панель не "
           u"снимает. Снимите её командой: systemctl --user unmask --runtime "
           u"ru.quorvane.agent.service"_s;
}

QString persistentMask() {
    return u"Фоновый запуск Quorvane запрещён маской systemd, которую панель снять не может. "
           u"Снимите её командой: systemctl --user unmask ru.quorvane.agent.service"_s;
}

QString stoppedButLeftEnabled(const QString& reason) {
    return u"агент остановлен, но остался в автозапуске systemd: "_s + reason;
}

}  // namespace quorvane::AgentServiceMessages
