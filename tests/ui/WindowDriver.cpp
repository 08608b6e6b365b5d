#include "tests/ui/WindowDriver.h"

#include <QGuiApplication>
#include <QScreen>
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
    if (QQuickItem* found = find(window_->contentItem(), objectName)) {
        return found;
    }
    throw std::runtime_error("no item " + objectName.toStdString());
}

bool WindowDriver::showsWhole(QQuickItem* target) {
    const auto sceneRect = [](QQuickItem* item) {
        // Half a pixel of slack for fractional positions.
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()))
            .adjusted(-0.5, -0.5, 0.5, 0.5);
    };
    const QRectF rect = sceneRect(target).adjusted(1, 1, -1, -1);
    if (!target->isVisible() || target->window() == nullptr ||
        !QRectF(0, 0, target->window()->width(), target->window()->height())
             .adjusted(-0.5, -0.5, 0.5, 0.5)
             .contains(rect)) {
        return false;
    }
    for (QQuickItem* ancestor = target->parentItem(); ancestor != nullptr;
         ancestor = ancestor->parentItem()) {
        if (ancestor->clip() && !sceneRect(ancestor).contains(rect)) {
            return false;
        }
    }
    return true;
}

QScreen* WindowDriver::moveToScreen(const QString& name) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == name) {
            window_->setScreen(screen);
            window_->setPosition(screen->availableGeometry().topLeft());
            settle();
            return screen;
        }
    }
    throw std::runtime_error("no screen " + name.toStdString());
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
    QTest::mouseClick(window_, Qt::LeftButton, {}, centre.toPoint());
    settle();
}

void WindowDriver::type(const QString& text) {
    for (const QChar character : text) {
        QTest::sendKeyEvent(QTest::Click, window_, Qt::Key_unknown, QString(character),
                            Qt::NoModifier);
    }
    settle();
}

void WindowDriver::press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(window_, key, modifiers);
    settle();
}

void WindowDriver::settle() {
    QTest::qWait(20);
}

}  // namespace quorvane::testing
