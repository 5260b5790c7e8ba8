#include "screenpad/desktopfocus.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

namespace {

// xcb replies are freed with free().
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> ReplyPtr<Reply> owned(Reply* reply)
{
    return ReplyPtr<Reply>(reply, &std::free);
}

// The X connection and the root window of `near`'s screen; a null connection off X11.
struct Desktop
{
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
};

Desktop desktopOf(QWidget& near)
{
    // The window's id as it is: a window never shown, or gone with the application, has none.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb") ||
        !near.internalWinId())
        return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return {};
    const auto geometry = owned(xcb_get_geometry_reply(
        connection, xcb_get_geometry(connection, xcb_drawable_t(near.internalWinId())), nullptr));
    if (!geometry)
        return {};
    return {connection, geometry->root};
}

xcb_atom_t netActiveWindow(xcb_connection_t* connection)
{
    static const char kName[] = "_NET_ACTIVE_WINDOW";
    const auto reply = owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

quint32 DesktopFocus::activeWindow(QWidget& near)
{
    const Desktop desktop = desktopOf(near);
    if (!desktop.connection)
        return 0;
    const xcb_atom_t atom = netActiveWindow(desktop.connection);
    if (atom == XCB_ATOM_NONE)
        return 0;
    const auto reply = owned(xcb_get_property_reply(
        desktop.connection,
        xcb_get_property(desktop.connection, 0, desktop.root, atom, XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    // A window manager without the property, or with no window active, gives nothing.
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < int(sizeof(xcb_window_t)))
        return 0;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

bool DesktopFocus::activate(QWidget& near, quint32 window)
{
    const Desktop desktop = desktopOf(near);
    if (!desktop.connection || window == XCB_NONE)
        return false;
    const xcb_atom_t atom = netActiveWindow(desktop.connection);
    if (atom == XCB_ATOM_NONE)
        return false;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom;
    // Source 2, a pager: the user's own choice, which focus-stealing prevention lets through.
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = XCB_NONE;
    xcb_send_event(desktop.connection, 0, desktop.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(desktop.connection);
    return true;
}
