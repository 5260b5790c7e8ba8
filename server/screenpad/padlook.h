#pragma once

#include <QColor>

// The pad's colours, those of the program's icon: a teal ground, off-white text, a gold
// accent. Pure white is kept for the signing box alone, so a customer sees at once where to
// sign.
namespace PadLook {
inline const QColor kGroundTop(32, 140, 150);
inline const QColor kGroundBottom(12, 78, 96);
inline const QColor kText(250, 250, 246);
inline const QColor kAccent(226, 180, 60);
inline const QColor kButtonText(36, 40, 48);
inline const QColor kQuietButton(214, 220, 222);
inline const QColor kSigningWhite(255, 255, 255);
inline const QColor kInk(24, 52, 170);
} // namespace PadLook
