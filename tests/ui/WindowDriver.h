#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

namespace quorvane::testing {

// Drives a window as its user does: finds items by their object name, scrolls them into view,
// clicks them and types into whatever has the keyboard focus.
class WindowDriver {
public:
    explicit WindowDriver(QQuickWindow& window) : window_(&window) {}

    // The item under `root` with this object name, or null; rows of lists are found too.
    static QQuickItem* find(QQuickItem* root, const QString& objectName);
    // The same under the whole window; throws when there is none.
    QQuickItem* item(const QString& objectName);
    bool shows(const QString& objectName) { return item(objectName)->isVisible(); }
    // The whole item is drawn: visible, inside the window and inside every clipping ancestor.
    static bool showsWhole(QQuickItem* target);

    // Moves the window onto the screen of this name (tests/data/offscreen-screens.json).
    QScreen* moveToScreen(const QString& name);
    // Scrolls the nearest scrolling ancestor to bring the item into view.
    void reveal(QQuickItem* target);
    void click(const QString& objectName) { click(item(objectName)); }
    void click(QQuickItem* target);
    // Key presses carrying the text's characters, as a keyboard sends them.
    void type(const QString& text);
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Lets bindings settle and a frame render.
    void settle();

protected:
    WindowDriver() = default;
    QQuickWindow* window_ = nullptr;
};

}  // namespace quorvane::testing
