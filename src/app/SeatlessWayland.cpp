#include "app/SeatlessWayland.h"

#include <wayland-client.h>

#include <QByteArray>
#include <cstring>

namespace quorvane {

namespace {

const char* const inputMethodVariable = "QT_IM_MODULE";

void noteGlobal(void* seatFound, wl_registry*, uint32_t, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0) {
        *static_cast<bool*>(seatFound) = true;
    }
}

void ignoreRemovedGlobal(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{noteGlobal, ignoreRemovedGlobal};

// True only for a compositor that answered without announcing a seat; with no compositor to
// reach, Qt does not use Wayland either. A socket the compositor handed over (WAYLAND_SOCKET)
// serves one connection only, which is Qt's.
bool compositorLacksSeat() {
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET")) {
        return false;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return false;
    }
    bool seatFound = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &seatFound);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && !seatFound;
}

}  // namespace

SeatlessWayland::SeatlessWayland() {
    if (qEnvironmentVariableIsSet(inputMethodVariable) || !compositorLacksSeat()) {
        return;
    }
    // No plugin has this name, so Qt creates no input context at all.
    qputenv(inputMethodVariable, QByteArrayLiteral("none"));
    inputMethodDisabled_ = true;
}

void SeatlessWayland::restoreEnvironment() {
    if (inputMethodDisabled_) {
        qunsetenv(inputMethodVariable);
        inputMethodDisabled_ = false;
    }
}

}  // namespace quorvane
