#include "tests/ui/WindowDriver.h"

#include <QTest>
#include <algorithm>
#include <stdexcept>

namespace quorvane::testing {

namespace {

// Scrolling views are the items with a content position.
QQuickItem* scrollingAncestor(QQuickItem* item) {
    QQuickItem* ancestor = item->parentItem();
    while (ancestor != nullptr && ancestor->metaObject()->indexOfProperty("contentY") < 0) {
        ancestor = ancestor->parentItem();
    }
    return ancestor;
}

}  // namespace

QQuickItem* WindowDriver::find(QQuickItem* root, const QString& objectName) {
    if (root->objectName() == objectName) {
        return root;
    }
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = find(child, objectName)) {
            return found;
        }
    }
    return nullptr;
}

QQuickItem* WindowDriver::item(const QString& objectName) {
    QQuickItem* found = find(window_.contentItem(), objectName);
    if (found == nullptr) {
        throw std::runtime_error("no item " + objectName.toStdString());
    }
    return found;
}

void WindowDriver::reveal(QQuickItem* target) {
    QQuickItem* scroller = scrollingAncestor(target);
    if (scroller == nullptr) {
        return;
    }
    const auto* content = scroller->property("contentItem").value<QQuickItem*>();
    const qreal top = target->mapToItem(content, QPointF()).y();
    const qreal lastY = scroller->property("contentHeight").toReal() - scroller->height();
    const qreal centred = top - (scroller->height() - target->height()) / 2;
    scroller->setProperty("contentY", std::clamp(centred, 0.0, std::max(lastY, 0.0)));
    settle();
}

void WindowDriver::click(QQuickItem* target) {
    reveal(target);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(&window_, Qt::LeftButton, {}, centre.toPoint());
    settle();
}

void WindowDriver::type(const QString& text) {
    for (const QChar character : text) {
        QTest::sendKeyEvent(QTest::Click, &window_, Qt::Key_unknown, QString(character),
                            Qt::NoModifier);
    }
    settle();
}

void WindowDriver::press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(&window_, key, modifiers);
    settle();
}

void WindowDriver::settle() {
    QTest::qWait(20);
}

}  // namespace quorvane::testing
