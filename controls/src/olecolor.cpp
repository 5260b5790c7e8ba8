#include "olecolor.h"

#include <array>

#include <QGuiApplication>
#include <QPalette>

namespace Quillset {

namespace {

constexpr quint32 kSystemColorFlag = 0x80000000u;
constexpr quint32 kPaletteRgbFlag = 0x02000000u;

// The system colour indexes hosts use, in index order, with the palette role closest to each.
constexpr std::array<QPalette::ColorRole, 25> kSystemColorRoles = {
    QPalette::Mid,             // scroll bar
    QPalette::Window,          // desktop
    QPalette::Highlight,       // active caption
    QPalette::Mid,             // inactive caption
    QPalette::Window,          // menu
    QPalette::Base,            // window
    QPalette::Shadow,          // window frame
    QPalette::WindowText,      // menu text
    QPalette::Text,            // window text
    QPalette::HighlightedText, // caption text
    QPalette::Window,          // active border
    QPalette::Window,          // inactive border
    QPalette::Dark,            // application work space
    QPalette::Highlight,       // highlight
    QPalette::HighlightedText, // highlighted text
    QPalette::Button,          // button face
    QPalette::Dark,            // button shadow
    QPalette::PlaceholderText, // grey text
    QPalette::ButtonText,      // button text
    QPalette::WindowText,      // inactive caption text
    QPalette::Light,           // button highlight
    QPalette::Shadow,          // 3-D dark shadow
    QPalette::Midlight,        // 3-D light
    QPalette::ToolTipText,     // tool tip text
    QPalette::ToolTipBase,     // tool tip background
};

} // namespace

Status colorFromOleColor(OLE_COLOR value, QColor& color)
{
    const quint32 kind = value & 0xFF000000u;
    if (kind == 0 || kind == kPaletteRgbFlag) {
        color = QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
        return {};
    }
    if (kind == kSystemColorFlag && (value & 0x00FFFFFFu) < kSystemColorRoles.size()) {
        color = QGuiApplication::palette().color(kSystemColorRoles[value & 0xFFu]);
        return {};
    }
    return Status::failure(StatusCode::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: no colour has the value 0x%1")
                               .arg(value, 8, 16, QLatin1Char('0')));
}

OLE_COLOR oleColorFromRgb(int red, int green, int blue)
{
    return OLE_COLOR(red & 0xFF) | OLE_COLOR(green & 0xFF) << 8 | OLE_COLOR(blue & 0xFF) << 16;
}

} // namespace Quillset
