#pragma once

#include <QPixmap>
#include <QString>

namespace controls {

// A picture of the controls by its name (for example "BBT_COLON"), loaded once and shared.
// The 2x variant is used on screens with a device pixel ratio above 1. A null pixmap when
// no picture has that name.
QPixmap picture(const QString& name);

}  // namespace controls
