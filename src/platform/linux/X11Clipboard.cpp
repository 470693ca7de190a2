#include "platform/linux/X11Clipboard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {
xcb_connection_t* x11Connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, false, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
} // namespace

X11Clipboard::X11Clipboard() = default;

X11Clipboard::~X11Clipboard() {
    if (m_window)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void X11Clipboard::refreshTime() {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    if (!m_window) {
        m_atom = internAtom(connection, "_ZANVOLT_SERVER_TIME");
        if (m_atom == XCB_ATOM_NONE)
            return;
        m_window = std::make_unique<QWindow>();
        m_window->create(); // Qt selects property changes on its windows
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    m_seen = false;
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, xcb_window_t(m_window->winId()), m_atom,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    // A round trip: the event is on its way to Qt's event reader once the answer is here.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    const QDeadlineTimer deadline(1000);
    while (!m_seen && !deadline.hasExpired()) {
        // Handled on this thread, in Qt's event handling; input waits for the main loop.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!m_seen)
            QThread::yieldCurrentThread();
    }
}

bool X11Clipboard::ownedHere() {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return true;
    const xcb_atom_t clipboard = internAtom(connection, "CLIPBOARD");
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr),
        &std::free);
    // Every window this connection made carries its resource base.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return reply && reply->owner != XCB_NONE &&
           (reply->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

bool X11Clipboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !m_window)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
    if (change->window == xcb_window_t(m_window->winId()) && change->atom == m_atom)
        m_seen = true;
    return false; // Qt takes the event's time after the filters
}
