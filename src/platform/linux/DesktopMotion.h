// Whether the desktop asks apps for reduced motion: GNOME's "enable-animations" switched off, or KDE's
// animation speed set to instant. Desktops without such a switch never ask.
#pragma once

#include <QString>

namespace velaro {

// `configHome` is the user's configuration folder; empty means $XDG_CONFIG_HOME (or ~/.config).
bool desktopReducesMotion(const QString& configHome = {});

}  // namespace velaro
