// The window session that both windows follow, through a fake window that
// logs what it is asked to do: the start-up order and placement, the tray,
// the end of the user's session and the shutdown, with the real file.

#include "config_place.h"

#include "manager/window_session.h"

namespace {

class FakeSessionWindow : public FakeFrontEnd, public SessionWindow {
public:
    void createColumns() override { log.push_back("columns"); }
    std::optional<WindowRect> screenAreaAt(int, int) const override { return area; }
    WindowSize minimumSize() const override { return {400, 150}; }
    void place(const WindowFields& p) override
    {
        log.push_back("place " + std::to_string(p.xpos) + " " + std::to_string(p.ypos) + " "
                      + std::to_string(p.width) + " " + std::to_string(p.height));
    }
    void centre() override { log.push_back("centre"); }
    void minimizeOnceShown() override { log.push_back("minimise when shown"); }
    bool showTrayIcon() override
    {
        log.push_back("tray");
        return trayAvailable;
    }
    void removeTrayIcon() override { log.push_back("untray"); }
    void hideWindow() override { log.push_back("hide"); }
    void showWindow() override { log.push_back("show"); }
    void restoreWindow() override
    {
        log.push_back("restore");
        if (session)
            session->minimizedChanged(false); // as a window's own state change comes at once
    }
    void setButtonEnabled(int id, bool enabled) override
    {
        log.push_back("button " + std::to_string(id) + (enabled ? " on" : " off"));
    }
    void commitEditing() override { log.push_back("commit editor"); }
    void closeEditing() override { log.push_back("close editor"); }
    void closeHelp() override { log.push_back("close help"); }

    // The save reads the placement first; every stop shows the busy cursor.
    WindowRect normalRect() const override
    {
        log.push_back("save");
        return FakeFrontEnd::normalRect();
    }
    void beginBusyCursor() override
    {
        log.push_back("stop");
        FakeFrontEnd::beginBusyCursor();
    }

    // Takes the log so far.
    std::vector<std::string> taken() { return std::exchange(log, {}); }

    mutable std::vector<std::string> log;
    std::optional<WindowRect> area = WindowRect{0, 0, 1920, 1080};
    bool trayAvailable = true;
    WindowSession* session = nullptr;
};

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/opt/vantrel/bin/vantrel";
        managerGlobals.processId = 11;
        managerGlobals.serviceCounter = 1;
        window.session = &session;
    }

    void open(const std::string& file)
    {
        write_file(place.machinePath(), ConfigPlace::platformText(file));
        session.open();
    }

    std::string saved() const { return read_file(place.machinePath()); }

    using Log = std::vector<std::string>;
    const Log rowButtonsOff = {"button 1002 off", "button 1003 off", "button 1004 off", "button 1005 off"};

    ConfigPlace place;
    FakeSessionWindow window;
    ServiceTable table{window};
    WindowSession session{table, window, window};
};

TEST_F(Session, StartUpCreatesTheColumnsLoadsAndPlacesFromTheFile)
{
    const struct {
        const char* general;
        const char* placed;
        const char* then; // null: nothing more
        const char* why;
    } starts[] = {
        {"", "place 0 0 0 0", "centre", "nothing stored: the window's own size, centred"},
        {"xpos = 120\nypos = 80\nwidth = 680\nheigth = 240\n", "place 120 80 680 240", nullptr, "as stored"},
        {"xpos = 9000\nypos = 80\nwidth = 680\nheigth = 100\n", "place 1240 80 680 150", nullptr,
         "fitted to the screen and the minimum"},
        {"xpos = 120\nypos = 80\nwidth = 680\nheigth = 240\nminimized = 1\n", "place 120 80 680 240",
         "minimise when shown", "into the tray once shown"},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.why);
        FakeSessionWindow fresh;
        ServiceTable freshTable(fresh);
        WindowSession freshSession(freshTable, fresh, fresh);
        write_file(place.machinePath(),
                   ConfigPlace::platformText(std::string("[General]\nautostart = 1\n") + start.general
                                             + "\n[Service1]\nname = A\n"));
        freshSession.open();
        Log expected = {"columns"};
        expected.insert(expected.end(), rowButtonsOff.begin(), rowButtonsOff.end());
        expected.push_back(start.placed);
        if (start.then)
            expected.push_back(start.then);
        EXPECT_EQ(fresh.taken(), expected);
        EXPECT_EQ(freshTable.count(), 1) << "loaded before the placement";
        EXPECT_TRUE(fresh.autostart);
        EXPECT_EQ(freshSession.minimized(), 0) << "so that the minimise is a change of state";
    }
}

TEST_F(Session, MinimisingGoesIntoTheTrayAndBack)
{
    open("");
    window.taken();
    session.minimizedChanged(true);
    EXPECT_EQ(window.taken(), (Log{"tray", "hide"}));
    EXPECT_EQ(session.minimized(), 1);
    session.minimizedChanged(true);
    EXPECT_TRUE(window.taken().empty()) << "no change of state";
    session.minimizedChanged(false);
    EXPECT_EQ(window.taken(), (Log{"untray", "show"}));
    EXPECT_EQ(session.minimized(), 0);

    // From the tray's own command: directly, not as the system's restore.
    session.minimizedChanged(true);
    window.taken();
    session.restoreFromTray();
    EXPECT_EQ(window.taken(), (Log{"restore", "untray", "show"}));
    EXPECT_EQ(session.minimized(), 0);

    // Without a tray the window minimises as any other and stays reachable.
    window.trayAvailable = false;
    session.minimizedChanged(true);
    EXPECT_EQ(window.taken(), (Log{"tray"}));
    EXPECT_EQ(session.minimized(), 1);
}

TEST_F(Session, TheSessionEndSavesMinimisedAndTheEndStopsEverythingOnce)
{
    open("[General]\nservices = 1\n\n[Service1]\nname = A\n");
    session.minimizedChanged(true);
    window.taken();
    session.endOfSession();
    EXPECT_EQ(window.taken(), (Log{"commit editor", "save"}));
    EXPECT_NE(saved().find("minimized = 1"), std::string::npos);
    EXPECT_EQ(table.count(), 1) << "nothing stopped at a log-off";
    EXPECT_FALSE(session.ended());

    session.close();
    EXPECT_EQ(window.taken(), (Log{"close editor", "save", "untray", "stop", "close help"}));
    EXPECT_EQ(saved().find("minimized"), std::string::npos) << "the next start shows the window";
    EXPECT_EQ(table.count(), 0);
    EXPECT_TRUE(session.ended());
    EXPECT_EQ(session.minimized(), 0);

    // Ended: nothing more happens.
    session.close();
    session.finish();
    session.endOfSession();
    session.refreshButtons();
    session.minimizedChanged(true);
    EXPECT_TRUE(window.taken().empty());
}

// Ended under the manager by the session's end, or gone after a session-end
// save: the file keeps the minimised state.
TEST_F(Session, AfterASessionEndSaveTheFileStaysAsItWas)
{
    for (bool underTheManager : {true, false}) {
        SCOPED_TRACE(underTheManager ? "endWithSession" : "endOfSession, then finish");
        FakeSessionWindow fresh;
        ServiceTable freshTable(fresh);
        WindowSession freshSession(freshTable, fresh, fresh);
        write_file(place.machinePath(), ConfigPlace::platformText("[General]\n\n[Service1]\nname = A\n"));
        freshSession.open();
        freshSession.minimizedChanged(true);
        fresh.taken();
        if (underTheManager) {
            freshSession.endWithSession();
        } else {
            freshSession.endOfSession();
            freshSession.finish();
        }
        EXPECT_EQ(fresh.taken(), (Log{"commit editor", "save", "close editor", "untray", "stop", "close help"}));
        EXPECT_NE(saved().find("minimized = 1"), std::string::npos);
        EXPECT_EQ(freshTable.count(), 0);
    }
    // Gone without a session end: saved as at an ordinary end.
    session.finish();
    EXPECT_EQ(window.taken(), (Log{"close editor", "save", "untray", "stop", "close help"}));
}

} // namespace
