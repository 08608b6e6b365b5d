#pragma once

#include <QCoreApplication>

namespace quorvane {

// Whether the desktop's file chooser portal is running on the session bus, so that the folder
// dialog can be the desktop's own. Asked before the application object exists, when Qt's D-Bus
// cannot be used yet; a portal that is not running is not started.
bool fileChooserPortalIsRunning();

// Qt's own Russian texts (file dialogs, standard buttons), whatever the locale: the rest of the
// interface is Russian too.
void installQtTranslations(QCoreApplication& application);

}  // namespace quorvane
