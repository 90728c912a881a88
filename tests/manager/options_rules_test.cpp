// The manager's command line, the tray icon's activation rule, headless
// mode's status lines and the stored services it compares with the table.

#include "test_support.h"

#include "manager/headless.h"
#include "manager/program_options.h"
#include "manager/configuration_file.h"
#include "manager/tray_activation.h"
#include "port/profile.h"

namespace {

ProgramOptions parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "vantrel");
    return parseProgramOptions(static_cast<int>(args.size()), args.data());
}

TEST(ProgramOptions, ModesFromTheArguments)
{
    const struct {
        std::vector<const char*> args;
        ProgramOptions::Mode mode;
        const char* configDir;
        const char* error;
    } cases[] = {
        {{}, ProgramOptions::Window, "", ""},
        // Extra arguments of the window are left to it, as before.
        {{"-platform", "offscreen"}, ProgramOptions::Window, "", ""},
        {{"--headless"}, ProgramOptions::Headless, "", ""},
        {{"--headless", "--config", "/srv/boards"}, ProgramOptions::Headless, "/srv/boards", ""},
        {{"--config", "/srv/boards", "--headless"}, ProgramOptions::Headless, "/srv/boards", ""},
        {{"--headless", "--config=/srv/b"}, ProgramOptions::Headless, "/srv/b", ""},
        {{"--help"}, ProgramOptions::Help, "", ""},
        {{"--headless", "--version"}, ProgramOptions::Version, "", ""},
        {{"--config", "x", "--help"}, ProgramOptions::Help, "", ""},
        {{"--headless", "--config"}, ProgramOptions::Invalid, "", "--config needs a folder"},
        {{"--headless", "--config="}, ProgramOptions::Invalid, "", "--config needs a folder"},
        {{"--headless", "now"}, ProgramOptions::Invalid, "", "unknown argument with --headless: now"},
        {{"--config", "/srv/boards"}, ProgramOptions::Invalid, "/srv/boards",
         "--config is used with --headless or --status"},
        {{"--status"}, ProgramOptions::Status, "", ""},
        {{"--status", "--config", "/srv/boards"}, ProgramOptions::Status, "/srv/boards", ""},
        {{"--status", "-v"}, ProgramOptions::Invalid, "", "unknown argument with --status: -v"},
        {{"--ports"}, ProgramOptions::Ports, "", ""},
        {{"--ports", "--config", "/srv"}, ProgramOptions::Invalid, "/srv", "--config is not used with --ports"},
        {{"--ports", "COM5"}, ProgramOptions::Invalid, "", "unknown argument with --ports: COM5"},
        {{"--status", "--headless"}, ProgramOptions::Invalid, "", "--status and --headless do not go together"},
    };
    for (const auto& c : cases) {
        ProgramOptions options = parse(c.args);
        std::string shown;
        for (const char* arg : c.args)
            shown += std::string(arg) + " ";
        EXPECT_EQ(options.mode, c.mode) << shown;
        EXPECT_EQ(options.configDir, c.configDir) << shown;
        EXPECT_EQ(options.error, c.error) << shown;
    }
}

TEST(ProgramOptions, UsageNamesEveryOption)
{
    const std::string usage = usageText();
    for (const char* word : {"--headless", "--config DIR", "--status", "--ports", "--help", "--version", "SIGHUP", "vantrel(1)"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    EXPECT_EQ(usage.back(), '\n');
}

TEST(TrayActivation, AClickRestoresOnlyWhereNoDoubleClickComes)
{
    const struct {
        TrayKind kind;
        TrayActivation activation;
        bool restores;
    } cases[] = {
        {TrayKind::Classic, TrayActivation::Click, false},
        {TrayKind::Classic, TrayActivation::DoubleClick, true},
        {TrayKind::Classic, TrayActivation::MiddleClick, false},
        {TrayKind::Classic, TrayActivation::ContextMenu, false},
        {TrayKind::StatusNotifier, TrayActivation::Click, true},
        {TrayKind::StatusNotifier, TrayActivation::DoubleClick, true},
        {TrayKind::StatusNotifier, TrayActivation::MiddleClick, false},
        {TrayKind::StatusNotifier, TrayActivation::ContextMenu, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trayActivationRestores(c.kind, c.activation), c.restores)
            << static_cast<int>(c.kind) << " " << static_cast<int>(c.activation);
}

TEST(Headless, StatusLines)
{
    EXPECT_EQ(headlessStatusLine("Eval board A", "24001", "COM5", "Active"), "Eval board A (24001 -> COM5): Active");
    EXPECT_EQ(headlessStatusLine("B", "telnet", "COM9", "Error: bind: Address already in use"),
              "B (telnet -> COM9): Error: bind: Address already in use");
    EXPECT_EQ(headlessStatusLine("C", "2001", "COM1", ""), "C (2001 -> COM1): Stopped");
}

TEST(StoredServices, ReadAsLoadingDoesAndComparedWithRecords)
{
    support::TempDir dir;
    const std::string path = dir / "vantrel.ini";
    ASSERT_TRUE(support::write_file(path,
                                    "[General]\nservices = 2\n\n[Service1]\nname = A\ntcpip = 2001\n"
                                    "comport = COM3\nbaudrate = 123\nparity = Odd\nactive = 1\n\n"
                                    "[Service2]\nname = B\ntcpip = telnet\ncomport = COM4\n"));
    port::Profile profile;
    std::string error;
    ASSERT_TRUE(profile.read_file(path, error)) << error;
    std::vector<StoredService> services = readStoredServices(profile);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_TRUE(services[0].active);
    EXPECT_FALSE(services[1].active);
    EXPECT_EQ(services[0].fields[COLUMN_BAUDRATE], "19200") << "outside the domain: the default";
    EXPECT_EQ(services[0].fields[COLUMN_PARITY], "Odd");
    EXPECT_EQ(services[1].fields[COLUMN_TCPIP], "telnet");
    EXPECT_EQ(services[1].fields[COLUMN_STATUS], "");

    const std::unique_ptr<ServiceRecord> made = newServiceRecord(services[0]);
    ServiceRecord& record = *made;
    EXPECT_FALSE(record.active) << "a record starts stopped";
    record.field(COLUMN_STATUS) = "Active";
    EXPECT_TRUE(hasStoredSettings(record, services[0]));
    EXPECT_FALSE(hasStoredSettings(record, services[1]));

    // What a reload makes of a change to each field: a new name is taken
    // over by the running service, a change to any other setting restarts
    // it, the Status is not compared.
    const struct {
        int column;
        const char* value;
        bool restarts;
    } changes[] = {
        {COLUMN_NAME, "A renamed", false}, {COLUMN_TCPIP, "2002", true},  {COLUMN_COMPORT, "COM4", true},
        {COLUMN_BAUDRATE, "9600", true},   {COLUMN_HANDSHAKE, "RTS/CTS", true}, {COLUMN_PARITY, "Even", true},
        {COLUMN_STOPBITS, "2", true},      {COLUMN_DTRO, "Yes", true},    {COLUMN_DTRC, "Yes", true},
        {COLUMN_PROTOCOL, "RFC 2217", true},
        {COLUMN_BUSY, "Refuse", true},     {COLUMN_LISTEN, "::1", true},  {COLUMN_ALLOW, "10.0.0.0/8", true},
        {COLUMN_STATUS, "Error: gone", false}, {COLUMN_CLIENT, "10.1.2.3 since 14:02", false},
    };
    for (const auto& change : changes) {
        const std::unique_ptr<ServiceRecord> changed = newServiceRecord(services[0]);
        changed->field(change.column) = change.value;
        const bool shownOnly = change.column == COLUMN_STATUS || change.column == COLUMN_CLIENT;
        EXPECT_EQ(hasStoredSettings(*changed, services[0]), shownOnly) << change.column;
        EXPECT_EQ(hasStoredSettings(*changed, services[0], false), !change.restarts) << change.column;
    }
}

// The commented example the package installs reads as it says: every
// value as written, each one its setting accepts.
TEST(StoredServices, TheExampleFileHoldsOnlyValuesItsSettingsTake)
{
    port::Profile profile;
    std::string error;
    ASSERT_TRUE(profile.read_file(std::string(VANTREL_SOURCE_DIR) + "/packaging/vantrel.ini", error)) << error;
    const std::vector<StoredService> services = readStoredServices(profile);
    ASSERT_EQ(services.size(), 3u);
    for (size_t i = 0; i < services.size(); ++i) {
        const std::string section = "Service" + std::to_string(i + 1);
        for (const ServiceSetting& setting : serviceSettings) {
            if (!setting.key)
                continue;
            const std::string& value = services[i].fields[setting.column];
            EXPECT_EQ(value, profile.get_string(section.c_str(), setting.key, setting.readDefault)) << section;
            EXPECT_TRUE(settingAccepts(setting, value)) << section << " " << setting.key << " = " << value;
        }
    }
    EXPECT_EQ(services[1].fields[COLUMN_BUSY], "Refuse");
    EXPECT_EQ(services[2].fields[COLUMN_LISTEN], "localhost");
}

TEST(StoredServices, AFileThatCannotBeReadSaysWhy)
{
    support::TempDir dir;
    port::Profile profile;
    std::string error;
    EXPECT_FALSE(profile.read_file(dir / "missing.ini", error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(profile.read_file(dir.path().string(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(profile.has_section("General"));
    EXPECT_EQ(profile.get_int("General", "services", 7), 7);
}

} // namespace
