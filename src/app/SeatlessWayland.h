#pragma once

namespace quorvane {

// Qt 6.4's Wayland plugin reads the seat's input device unchecked whenever the compositor offers
// a text-input protocol, and crashes on a compositor without a seat (a headless compositor, a
// kiosk without input). Without a seat nobody types, so there the panel asks Qt for no input
// method, before the application object connects. A method the user chose is kept.
class SeatlessWayland {
public:
    // Before the application object is created.
    SeatlessWayland();
    // Once it exists: the input method was chosen, and programs the panel starts see the
    // environment as it was.
    void restoreEnvironment();

private:
    bool inputMethodDisabled_ = false;
};

}  // namespace quorvane
