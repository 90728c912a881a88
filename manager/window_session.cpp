// The main window's session: start-up, the tray, the session's end and the
// shutdown, in their order.

#include "manager/window_session.h"

#include "manager/command_ids.h"
#include "manager/service_table.h"
#include "manager/window_placement.h"

WindowSession::WindowSession(ServiceTable& table, ManagerWindow& window, SessionWindow& session)
    : table_(table), window_(window), session_(session)
{
}

int WindowSession::minimized() const
{
    return window_.windowFields().minimized;
}

void WindowSession::open()
{
    session_.createColumns();
    refreshButtons();
    table_.loadConfiguration();

    // The stored placement, never smaller than the template and fitted to
    // the screen it was on.
    WindowFields& fields = window_.windowFields();
    if (std::optional<WindowRect> area = session_.screenAreaAt(fields.xpos, fields.ypos)) {
        const WindowSize minimum = session_.minimumSize();
        fields = fitPlacement(fields, *area, minimum.width, minimum.height);
    }
    session_.place(fields);
    if (fields.minimized) {
        fields.minimized = 0; // so that the minimise is a change of state
        session_.minimizeOnceShown();
    } else if (fields.width == 0 || fields.height == 0) {
        session_.centre();
    }
}

void WindowSession::refreshButtons()
{
    if (ended_)
        return;
    const int row = window_.selectedRow();
    for (int id : rowButtons)
        session_.setButtonEnabled(id, table_.buttonEnabled(id, row));
}

void WindowSession::minimizedChanged(bool minimized)
{
    WindowFields& fields = window_.windowFields();
    if (ended_ || restoring_ || fields.minimized == (minimized ? 1 : 0))
        return;
    fields.minimized = minimized ? 1 : 0;
    if (minimized) {
        if (session_.showTrayIcon())
            session_.hideWindow();
    } else {
        session_.removeTrayIcon();
        session_.showWindow();
    }
}

void WindowSession::restoreFromTray()
{
    if (ended_)
        return;
    restoring_ = true;
    session_.restoreWindow();
    window_.windowFields().minimized = 0;
    session_.removeTrayIcon();
    session_.showWindow();
    restoring_ = false;
}

void WindowSession::endOfSession()
{
    if (ended_)
        return;
    session_.commitEditing(); // an open editor's value is saved, not its old one
    table_.saveConfiguration(true);
    sessionSaved_ = true;
}

void WindowSession::endWithSession()
{
    if (ended_)
        return;
    endOfSession();
    shutdown(false);
}

void WindowSession::close()
{
    shutdown(true);
}

void WindowSession::finish()
{
    shutdown(!sessionSaved_);
}

void WindowSession::shutdown(bool save)
{
    if (ended_)
        return;
    // An open editor ends first, its value applied, so that it is saved
    // and never applied to a record that is gone.
    session_.closeEditing();
    if (save)
        table_.saveConfiguration(false);
    ended_ = true;
    window_.windowFields().minimized = 0;
    session_.removeTrayIcon();
    table_.destroyAllServices();
    session_.closeHelp();
}
