#pragma once

#include <QAbstractNativeEventFilter>
#include <QWindow>
#include <memory>

// What Qt's clipboard leaves out on X11. Qt stamps a new clipboard owner with the time of the last
// X event it handled; when a copy comes without recent input (an accessibility action, a
// notification's button) right after another client took the clipboard, the server refuses that
// stale stamp, and Qt still believes it owns the clipboard.
class X11Clipboard : public QAbstractNativeEventFilter {
public:
    X11Clipboard();
    ~X11Clipboard() override;

    // Brings Qt's idea of the server's time up to now: a zero-length change of a property on a
    // window of ours makes the server send a PropertyNotify with its current time, which Qt takes
    // over when it handles the event. Returns once it did (at most a second); nothing off X11.
    void refreshTime();
    // Whether the server names a window of this process as the clipboard's owner; true off X11.
    static bool ownedHere();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::unique_ptr<QWindow> m_window; // created, never shown
    quint32 m_atom = 0;
    bool m_seen = false;
};
