// The Download Center's window on the desktop: drawn from its model like the others, then made a
// window that the main window owns (kept in front of it; the main window is disabled while it is
// open, so it is a transient window of the main one rather than a Qt child, which would be
// disabled with it), placed 20 pixels right of and above the main window, and without a close
// box: the program closes it through its Exit and DL buttons only.
#include <QWindow>

#include "gui/widgets.h"

namespace fw::qt {

void DressDownloadCenter(QWidget* window, QWidget* main) {
  window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  if (!main) return;
  window->move(main->x() + 20, main->y() - 20);
  window->winId();  // makes the native window that carries the owner
  if (window->windowHandle() && main->windowHandle())
    window->windowHandle()->setTransientParent(main->windowHandle());
}

}  // namespace fw::qt
