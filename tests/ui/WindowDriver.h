#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

namespace quorvane::testing {

// Drives a window as its user does: finds items on screen by their object name, scrolls them
// into view, clicks them and types into whatever has the keyboard focus.
class WindowDriver {
public:
    explicit WindowDriver(QQuickWindow& window) : window_(window) {}

    // The item on screen under `root` with this object name, or null. Rows of lists are found
    // too, which are children of the items they are drawn in, not of the window's objects.
    static QQuickItem* find(QQuickItem* root, const QString& objectName);
    // The same under the whole window; throws when there is none.
    QQuickItem* item(const QString& objectName);
    bool shows(const QString& objectName) { return item(objectName)->isVisible(); }
    // The whole item is drawn: it is visible and lies inside the window and inside every
    // clipping ancestor (a scrolled view shows only what lies within it).
    static bool showsWhole(QQuickItem* target);

    // Moves the window onto the screen of this name (tests/data/offscreen-screens.json);
    // throws when there is none.
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

private:
    QQuickWindow& window_;
};

}  // namespace quorvane::testing
