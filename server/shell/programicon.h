#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own 128 x 128 picture: the window's icon, the tray icon and the About box's
// picture.
QPixmap programPicture();
QIcon programIcon();
