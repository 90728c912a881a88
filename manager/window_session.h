#pragma once
// The main window's session around the service table, the same for both
// windows: the start-up order (columns, buttons, the configuration, then
// the stored placement fitted to the screen, minimised into the tray or
// centred), minimising into the tray and restoring from it, the end of the
// user's session (saved with the minimised state, nothing stopped), and the
// shutdown (an open editor ended, saved, the tray icon removed, every
// worker stopped, Help closed). Each window keeps its drawing and wiring
// behind SessionWindow and calls these at its events.

#include "manager/front_end.h"

#include <optional>

class ServiceTable;

// What the session asks of a window beyond ManagerWindow.
class SessionWindow {
public:
    virtual ~SessionWindow() = default;

    virtual void createColumns() = 0;
    // The available area of the screen that holds the point, the primary
    // screen's when none does; none without a screen.
    virtual std::optional<WindowRect> screenAreaAt(int x, int y) const = 0;
    // The smallest the window gets (its template size).
    virtual WindowSize minimumSize() const = 0;
    // Moves and sizes the window, never below the minimum size.
    virtual void place(const WindowFields& placement) = 0;
    virtual void centre() = 0;
    // The window minimises itself once it is shown.
    virtual void minimizeOnceShown() = 0;

    // Shows the tray icon unless it is there; false when the desktop has
    // no tray, where the window then minimises as any other.
    virtual bool showTrayIcon() = 0;
    virtual void removeTrayIcon() = 0;
    virtual void hideWindow() = 0; // no taskbar button: the tray icon is the way back
    virtual void showWindow() = 0;
    virtual void restoreWindow() = 0; // out of the minimised state

    virtual void setButtonEnabled(int id, bool enabled) = 0;
    virtual void commitEditing() = 0; // ends an open cell editor with its value applied
    virtual void closeEditing() = 0;  // the same, and no editor opens again
    virtual void closeHelp() = 0;
};

class WindowSession {
public:
    WindowSession(ServiceTable& table, ManagerWindow& window, SessionWindow& session);
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    // The start-up, once the window's controls exist.
    void open();
    // The service buttons from the selected row (WM_REFRESH_BUTTONS).
    void refreshButtons();

    // The window was minimised (true) or restored (false), by the user or
    // the system: into the tray and hidden, or shown with the icon gone.
    void minimizedChanged(bool minimized);
    // "&Configure" or a double click on the icon: the window restored and
    // shown, the icon gone, directly rather than as a restore of the
    // system's.
    void restoreFromTray();

    // The user's session ends (log-off, shut-down): saved with the
    // minimised state; nothing is stopped.
    void endOfSession();
    // The session ends under the manager: saved as at a log-off, then
    // every worker stopped. The window then ends.
    void endWithSession();
    // The window ends (Escape, close box, the tray's Exit): saved without
    // the minimised state, so that the next start shows the window, then
    // every worker stopped.
    void close();
    // The window goes without having ended: as close(), but after a
    // session-end save the file stays as that save left it.
    void finish();

    // After the shutdown the window takes no more commands.
    bool ended() const { return ended_; }
    int minimized() const;

private:
    void shutdown(bool save);

    ServiceTable& table_;
    ManagerWindow& window_;
    SessionWindow& session_;
    bool restoring_ = false;
    bool sessionSaved_ = false;
    bool ended_ = false;
};
