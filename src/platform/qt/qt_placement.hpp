// Where the program's windows go on the screen: the frame the window system puts around a window,
// and placing a window so that its outer frame (caption bar and border included) is centred.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace vendilox::platform::qt {

// The frame around the top-level window, as the window system reports it. Under X11 the window
// manager is asked for it before the window is first mapped, so that the window can be placed
// and sized right from its first frame; elsewhere it is what the platform reports (nothing before
// the window exists). Empty without a window manager.
QMargins WindowFrame(QWidget& window);

// Moves the top-level window so that its outer frame is centred on area.
void CentreOn(QWidget& window, const QRect& area);

// The available area of the screen the window is on, or of the primary screen; empty without one.
QRect DesktopArea(const QWidget& window);

}  // namespace vendilox::platform::qt
