.pragma library

// Scrolls `flickable` the least distance that brings `item`, when it is drawn inside the
// flickable, wholly into view with `margin` around it; an item taller than the view shows its
// top edge.
function reveal(flickable, item, margin) {
    if (!item || !isInside(flickable.contentItem, item))
        return;
    const top = item.mapToItem(flickable.contentItem, 0, 0).y - margin;
    const bottom = top + item.height + 2 * margin;
    let y = flickable.contentY;
    if (bottom > y + flickable.height)
        y = bottom - flickable.height;
    if (top < y)
        y = top;
    flickable.contentY = Math.max(0, Math.min(y, flickable.contentHeight - flickable.height));
}

function isInside(ancestor, item) {
    for (let parent = item.parent; parent; parent = parent.parent) {
        if (parent === ancestor)
            return true;
    }
    return false;
}
