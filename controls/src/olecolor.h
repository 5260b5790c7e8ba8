#pragma once

#include <QColor>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

// A colour as hosts store it: 0x00BBGGRR for a plain colour, 0x800000nn for system colour nn.
using OLE_COLOR = quint32;

// The colour a host's value stands for; fails for values that name no colour.
QUILLSET_EXPORT Status colorFromOleColor(OLE_COLOR value, QColor& color);

// The plain value of a colour: 0x00BBGGRR.
QUILLSET_EXPORT OLE_COLOR oleColorFromRgb(int red, int green, int blue);

} // namespace Quillset
