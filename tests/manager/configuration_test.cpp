// The configuration file and the autostart entry, through ServiceTable's
// load and save, with real files (and the real registry on Windows).

#include "config_place.h"

#include "manager/window_placement.h"

#include <algorithm>
#include <cstring>

namespace {

const char* const EXAMPLE_FILE =
    "[General]\n"
    "autostart = 1\n"
    "services   = 2\n"
    "xpos      = 120\n"
    "ypos      = 80\n"
    "width     = 680\n"
    "heigth    = 240\n"
    "columns   = 10\n"
    "column0   = 70\n"
    "column1   = 160\n"
    "column2   = 70\n"
    "column3   = 60\n"
    "column4   = 55\n"
    "column5   = 70\n"
    "column6   = 50\n"
    "column7   = 55\n"
    "column8   = 45\n"
    "column9   = 45\n"
    "\n"
    "[Service1]\n"
    "name      = Service\n"
    "tcpip     = telnet\n"
    "comport   = COM1\n"
    "baudrate  = 19200\n"
    "handshake = None\n"
    "parity    = None\n"
    "stopbits  = 1\n"
    "dtro      = No\n"
    "dtrc      = No\n"
    "active    = 1\n"
    "\n"
    "[Service2]\n"
    "name      = Board B\n"
    "tcpip     = 2001\n"
    "comport   = COM2\n"
    "baudrate  = 115200\n"
    "handshake = RTS/CTS\n"
    "parity    = Even\n"
    "stopbits  = 2\n"
    "dtro      = Yes\n"
    "dtrc      = No\n"
    "active    = 0\n";

class Configuration : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/opt/vantrel/bin/vantrel";
        managerGlobals.processId = 7;
        managerGlobals.serviceCounter = 1;
    }

    // The two services of the example, the first one marked running.
    void fillExample(FakeFrontEnd& frontEnd, ServiceTable& table)
    {
        frontEnd.autostart = true;
        frontEnd.rect = {120, 80, 800, 320};
        const int stored[] = {70, 160, 70, 60, 55, 70, 50, 55, 45, 45};
        std::copy(std::begin(stored), std::end(stored), frontEnd.widths.begin());
        auto first = newServiceRecord();
        first->field(COLUMN_COMPORT) = "COM1";
        table.addService(std::move(first));
        auto second = newServiceRecord();
        second->field(COLUMN_NAME) = "Board B";
        second->field(COLUMN_TCPIP) = "2001";
        second->field(COLUMN_COMPORT) = "COM2";
        second->field(COLUMN_BAUDRATE) = "115200";
        second->field(COLUMN_HANDSHAKE) = "RTS/CTS";
        second->field(COLUMN_PARITY) = "Even";
        second->field(COLUMN_STOPBITS) = "2";
        second->field(COLUMN_DTRO) = "Yes";
        table.addService(std::move(second));
    }

    void load(FakeFrontEnd& frontEnd, ServiceTable& table, const std::string& text)
    {
        write_file(place.machinePath(), ConfigPlace::platformText(text));
        table.loadConfiguration();
        expectRowsMirrorTable(frontEnd, table);
    }

    ConfigPlace place;
};

TEST_F(Configuration, WritesTheKnownFileByteForByte)
{
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    fillExample(frontEnd, table);
    table.record(0)->active = true; // only its saved flag matters here
    table.saveConfiguration(false);
    table.record(0)->active = false;
    EXPECT_EQ(ConfigPlace::fileText(place.machinePath()), ConfigPlace::platformText(EXAMPLE_FILE));

    // The session-end save adds the minimised flag after "heigth".
    frontEnd.fields.minimized = 1;
    table.saveConfiguration(true);
    std::string withMinimized = EXAMPLE_FILE;
    std::string after = "heigth    = 240\n";
    withMinimized.insert(withMinimized.find(after) + after.size(), "minimized = 1\n");
    withMinimized.replace(withMinimized.find("active    = 1"), 13, "active    = 0");
    EXPECT_EQ(ConfigPlace::fileText(place.machinePath()), ConfigPlace::platformText(withMinimized));

    // Read and saved again, byte for byte: a file without the keys that
    // are written only away from their defaults (protocol) reads as those
    // defaults and gains no line.
    std::string stopped = EXAMPLE_FILE;
    stopped.replace(stopped.find("active    = 1"), 13, "active    = 0");
    write_file(place.machinePath(), ConfigPlace::platformText(stopped));
    FakeFrontEnd again;
    again.rect = frontEnd.rect;
    ServiceTable reread(again);
    reread.loadConfiguration();
    ASSERT_EQ(reread.count(), 2);
    EXPECT_EQ(reread.record(1)->field(COLUMN_PROTOCOL), "Raw");
    reread.saveConfiguration(false);
    EXPECT_EQ(ConfigPlace::fileText(place.machinePath()), ConfigPlace::platformText(stopped));
}

TEST_F(Configuration, ReadsBackTheSameServicesInTheSameOrder)
{
    FakeFrontEnd saving;
    {
        ServiceTable table(saving);
        fillExample(saving, table);
        auto third = newServiceRecord();
        third->field(COLUMN_NAME) = "";
        third->field(COLUMN_TCPIP) = "echo";
        third->field(COLUMN_COMPORT) = "COM300";
        third->field(COLUMN_HANDSHAKE) = "Xon/Xoff";
        third->field(COLUMN_PARITY) = "Odd";
        third->field(COLUMN_BAUDRATE) = "230400";
        third->field(COLUMN_DTRC) = "Yes";
        table.addService(std::move(third));
        saving.widths[3] = 0;
        table.saveConfiguration(false);
    }

    FakeFrontEnd frontEnd;
    frontEnd.widths.assign(SERVICE_COLUMNS, 1);
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    expectRowsMirrorTable(frontEnd, table);
    ASSERT_EQ(table.count(), 3);
    const char* expected[3][9] = {
        {"Service", "telnet", "COM1", "19200", "None", "None", "1", "No", "No"},
        {"Board B", "2001", "COM2", "115200", "RTS/CTS", "Even", "2", "Yes", "No"},
        {"", "echo", "COM300", "230400", "Xon/Xoff", "Odd", "1", "No", "Yes"},
    };
    for (int row = 0; row < 3; ++row) {
        ServiceRecord& r = *table.record(row);
        std::vector<std::string> got = {r.field(COLUMN_NAME), r.field(COLUMN_TCPIP), r.field(COLUMN_COMPORT), r.field(COLUMN_BAUDRATE), r.field(COLUMN_HANDSHAKE),
                                        r.field(COLUMN_PARITY), r.field(COLUMN_STOPBITS), r.field(COLUMN_DTRO), r.field(COLUMN_DTRC)};
        EXPECT_EQ(got, std::vector<std::string>(expected[row], expected[row] + 9)) << "row " << row;
        EXPECT_TRUE(r.field(COLUMN_STATUS).empty());
    }
    EXPECT_TRUE(frontEnd.autostart);
    EXPECT_EQ(frontEnd.fields.xpos, 120);
    EXPECT_EQ(frontEnd.fields.ypos, 80);
    EXPECT_EQ(frontEnd.fields.width, 680);
    EXPECT_EQ(frontEnd.fields.height, 240);
    EXPECT_EQ(frontEnd.fields.minimized, 0);
    EXPECT_EQ(frontEnd.widths, (std::vector<int>{70, 160, 70, 0, 55, 70, 50, 55, 45, 45, 1, 1, 1, 1, 1}))
        << "the later columns are stored while they are not at their default width";
    // Loading takes a fresh stop-event name per service, from the counter.
    EXPECT_EQ(table.record(2)->eventName, "BRAMBLEVantrelServer7_6");
}

TEST_F(Configuration, MissingFileSectionsAndKeysGiveTheReadDefaults)
{
    {
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        table.loadConfiguration();
        EXPECT_EQ(table.count(), 0);
        EXPECT_FALSE(frontEnd.autostart);
        EXPECT_EQ(frontEnd.fields.xpos + frontEnd.fields.ypos + frontEnd.fields.width +
                      frontEnd.fields.height + frontEnd.fields.minimized, 0);
        EXPECT_EQ(frontEnd.widths, FakeFrontEnd::defaultWidths());
    }
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    load(frontEnd, table,
         "[General]\nservices = 3\nminimized = 1\n\n[Service1]\n\n[Service2]\nname = Only\ntcpip = 2002\ncomport = "
         "COM4\n\n[Service3]\n");
    ASSERT_EQ(table.count(), 3);
    for (int row : {0, 2}) {
        ServiceRecord& r = *table.record(row);
        EXPECT_EQ(r.field(COLUMN_NAME), "");
        EXPECT_EQ(r.field(COLUMN_TCPIP), "");
        EXPECT_EQ(r.field(COLUMN_COMPORT), "");
        EXPECT_EQ(r.field(COLUMN_BAUDRATE), "19200");
        EXPECT_EQ(r.field(COLUMN_HANDSHAKE), "None");
        EXPECT_EQ(r.field(COLUMN_PARITY), "None");
        EXPECT_EQ(r.field(COLUMN_STOPBITS), "1");
        EXPECT_EQ(r.field(COLUMN_DTRO), "No");
        EXPECT_EQ(r.field(COLUMN_DTRC), "No");
    }
    EXPECT_EQ(table.record(1)->field(COLUMN_NAME), "Only");
    EXPECT_EQ(table.record(1)->field(COLUMN_COMPORT), "COM4");
    EXPECT_EQ(frontEnd.fields.minimized, 1);
}

// Every section [Service1], [Service2], ... present is read in its order,
// whatever the count says and however many are missing between them: no
// service is lost and none is invented. What is saved next has a sound
// count and numbers the sections from 1 again.
TEST_F(Configuration, EveryServiceSectionIsReadWhateverTheCountAndTheGaps)
{
    const std::string sections = "\n[Service1]\nname = one\n\n[Service3]\nname = two\n\n[service4]\nname = three\n"
                                 "\n[Service7]\nname = four\n\n[Service07]\nname = not a service section\n";
    for (const char* general : {"[General]\nservices = 7\n", "[General]\nservices = 3\n",
                                "[General]\nservices = 0\n", "[General]\nservices = 99\n",
                                "[General]\nservices = abc\n", "[General]\nservices = -2\n",
                                "[General]\nservices = 2147483648\n", "[General]\nservices =\n",
                                "[General]\nxpos = 10\n", "services = 2\nxpos = 10\n", ""}) {
        SCOPED_TRACE(general);
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        load(frontEnd, table, general + sections);
        ASSERT_EQ(table.count(), 4);
        const char* names[] = {"one", "two", "three", "four"};
        for (int row = 0; row < 4; ++row)
            EXPECT_EQ(table.record(row)->field(COLUMN_NAME), names[row]);

        table.saveConfiguration(false);
        const std::string saved = read_file(place.machinePath());
        EXPECT_NE(saved.find(ConfigPlace::platformText("services   = 4\n")), std::string::npos);
        for (int k = 1; k <= 4; ++k)
            EXPECT_NE(saved.find(ConfigPlace::platformText("[Service" + std::to_string(k) + "]\nname      = "
                                                           + names[k - 1] + "\n")),
                      std::string::npos)
                << k;
        EXPECT_EQ(saved.find("[Service7]"), std::string::npos);
    }
}

TEST_F(Configuration, AUtf16FileIsReadAsText)
{
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big endian" : "little endian");
        std::string text = ConfigPlace::platformText(EXAMPLE_FILE);
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : text) {
            char pair[2] = {bigEndian ? '\0' : c, bigEndian ? c : '\0'};
            bytes.append(pair, 2);
        }
        write_file(place.machinePath(), bytes);
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        table.loadConfiguration();
        expectRowsMirrorTable(frontEnd, table);
        ASSERT_EQ(table.count(), 2);
        EXPECT_EQ(table.record(1)->field(COLUMN_NAME), "Board B");
        EXPECT_EQ(table.record(1)->field(COLUMN_HANDSHAKE), "RTS/CTS");
        EXPECT_EQ(frontEnd.fields.width, 680);
        EXPECT_TRUE(frontEnd.autostart);
    }
}

TEST_F(Configuration, EverySaveKeepsThePreviousFileAsBackup)
{
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.saveConfiguration(false);
    EXPECT_FALSE(ConfigPlace::fileText(place.backupPath())) << "no backup of a file that was not there";

    const std::string handWritten = ConfigPlace::platformText("[General]\nservices = 1\n; kept as it is\n");
    write_file(place.machinePath(), handWritten);
    fillExample(frontEnd, table);
    table.saveConfiguration(false);
    EXPECT_EQ(ConfigPlace::fileText(place.backupPath()), handWritten);
    const std::string first = read_file(place.machinePath());
    EXPECT_NE(first.find("Board B"), std::string::npos);

    // One generation: the next save keeps the file it replaces.
    table.deleteService(1);
    table.saveConfiguration(false);
    EXPECT_EQ(ConfigPlace::fileText(place.backupPath()), first);
    EXPECT_EQ(read_file(place.machinePath()).find("Board B"), std::string::npos);
}

TEST_F(Configuration, ColumnWidthsAreReadOnlyWithTenColumns)
{
    const std::string columns =
        "column0 = 11\ncolumn1 = 12\ncolumn2 = 13\ncolumn3 = -1\ncolumn4 = 70000\n"
        "column5 = 65552\ncolumn6 = 17\ncolumn7 = 18\ncolumn8 = 19\n";
    const std::vector<int> defaults = FakeFrontEnd::defaultWidths();
    {
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        load(frontEnd, table, "[General]\ncolumns = 9\n" + columns);
        EXPECT_EQ(frontEnd.widths, defaults);
    }
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    load(frontEnd, table, "[General]\ncolumns = 10\n" + columns);
    // A negative or missing width keeps the list's own; a large one keeps
    // its low 16 bits (65552 is 16), and no column gets wider than the
    // most a column is given.
    ASSERT_GT(70000 & 0xFFFF, MAX_COLUMN_WIDTH);
    EXPECT_EQ(frontEnd.widths,
              (std::vector<int>{11, 12, 13, defaults[3], MAX_COLUMN_WIDTH, 16, 17, 18, 19, defaults[9], defaults[10],
                                defaults[11], defaults[12], defaults[13], defaults[14]}));
}

// Each checked setting: a value its list does not hold (compared byte for
// byte) reads as the default, one it holds is kept and written back so.
TEST_F(Configuration, ValuesOutsideTheirListsReadAsDefaults)
{
    const struct {
        int column;
        const char* key;
        const char* refused;
        const char* fallback;
        const char* kept;
    } settings[] = {
        {COLUMN_BAUDRATE, "baudrate", "19201", "19200", "2400"},
        {COLUMN_HANDSHAKE, "handshake", "none", "None", "Xon/Xoff"},
        {COLUMN_PARITY, "parity", "even", "None", "Odd"},
        {COLUMN_STOPBITS, "stopbits", "1.5", "1", "2"},
        {COLUMN_DTRO, "dtro", "yes", "No", "Yes"},
        {COLUMN_DTRC, "dtrc", "YES", "No", "Yes"},
    };
    std::string refused = "[Service1]\n", kept = "[Service2]\n", written;
    for (const auto& setting : settings) {
        refused += std::string(setting.key) + "=" + setting.refused + "\n";
        kept += std::string(setting.key) + "=" + setting.kept + "\n";
        written += std::string(setting.key) + std::string(10 - std::strlen(setting.key), ' ') + "= " + setting.kept + "\n";
    }
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    load(frontEnd, table, "[General]\nservices=2\n" + refused + kept);
    ASSERT_EQ(table.count(), 2);
    for (const auto& setting : settings) {
        EXPECT_EQ(table.record(0)->field(setting.column), setting.fallback) << setting.key;
        EXPECT_EQ(table.record(1)->field(setting.column), setting.kept) << setting.key;
    }
    table.saveConfiguration(false);
    EXPECT_NE(read_file(place.machinePath()).find(ConfigPlace::platformText(written)), std::string::npos);
}

// The protocol and sharing settings: a file without them reads and saves
// as before (the example file is compared byte for byte above); a service
// that has them gets their lines after "dtrc", only while they are not at
// their defaults. A value they refuse is kept as it was written, for the
// start to refuse, never replaced by a default: a mistyped allow list
// must not let everybody in, nor a mistyped protocol serve raw bytes to a
// Telnet client.
TEST_F(Configuration, LaterKeysAreWrittenWhenSetAndWrongValuesKept)
{
    const std::string plain = "name      = Plain\ndtrc      = No\n";
    const std::string set = "name      = Shared\ndtrc      = No\nprotocol  = RFC 2217\nbusy      = Take over\n"
                            "listen    = ::1\nallow     = 10.1.0.0/16, 192.0.2.7\n";
    const std::string wrong = "name      = Wrong\ndtrc      = No\nprotocol  = RFC2217\nbusy      = refuse\n"
                              "listen    = 10.0.0.300\nallow     = 10.0.0.0/33\n";
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    load(frontEnd, table, "[General]\n\n[Service1]\n" + plain + "\n[Service2]\n" + set + "\n[Service3]\n" + wrong);
    ASSERT_EQ(table.count(), 3);
    const char* expected[3][3] = {
        {"Queue", "", ""}, {"Take over", "::1", "10.1.0.0/16, 192.0.2.7"}, {"refuse", "10.0.0.300", "10.0.0.0/33"}};
    const char* protocols[3] = {"Raw", "RFC 2217", "RFC2217"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(table.record(row)->field(COLUMN_PROTOCOL), protocols[row]) << row;
        EXPECT_EQ(table.record(row)->field(COLUMN_BUSY), expected[row][0]) << row;
        EXPECT_EQ(table.record(row)->field(COLUMN_LISTEN), expected[row][1]) << row;
        EXPECT_EQ(table.record(row)->field(COLUMN_ALLOW), expected[row][2]) << row;
    }
    table.saveConfiguration(false);
    const std::string saved = ConfigPlace::fileText(place.machinePath()).value_or("");
    auto section = [&](int number) {
        const std::string head = "[Service" + std::to_string(number) + "]";
        const size_t from = saved.find("name", saved.find(head));
        return saved.substr(from, saved.find("active", from) - from);
    };
    const std::string filled = "tcpip     = \ncomport   = \nbaudrate  = 19200\nhandshake = None\nparity    = None\n"
                               "stopbits  = 1\ndtro      = No\n";
    auto withFilled = [&](const std::string& lines) {
        const size_t dtrc = lines.find("dtrc");
        return ConfigPlace::platformText(lines.substr(0, dtrc) + filled + lines.substr(dtrc));
    };
    EXPECT_EQ(section(1), withFilled(plain));
    EXPECT_EQ(section(2), withFilled(set));
    EXPECT_EQ(section(3), withFilled(wrong));
}

TEST_F(Configuration, HeightIsReadFromTheKeySpelledHeigth)
{
    {
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        load(frontEnd, table, "[General]\nwidth = 500\nheight = 300\n");
        EXPECT_EQ(frontEnd.fields.width, 500);
        EXPECT_EQ(frontEnd.fields.height, 0);
    }
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    load(frontEnd, table, "[General]\nwidth = 500\nheigth = 300\n");
    EXPECT_EQ(frontEnd.fields.height, 300);
}

TEST_F(Configuration, ReadsByThePrivateProfileRules)
{
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    std::string longName(300, 'n');
    load(frontEnd, table,
         "\xEF\xBB\xBF[GENERAL]\n"
         "  Services   =   1  \n"
         "XPOS=+12abc\n"
         "ypos = \t-5\n"
         "width = abc\n"
         "heigth = 007\n"
         "\n"
         "[service1]\n"
         "NAME =   padded name   \n"
         "TcpIp=2001\n"
         "tcpip=2002\n"
         "comport = " + longName + "\n"
         "[Service1]\n"
         "baudrate = 2400\n"
         "[general]\n"
         "xpos = 99\n");
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(frontEnd.fields.xpos, 12);
    EXPECT_EQ(frontEnd.fields.ypos, -5);
    EXPECT_EQ(frontEnd.fields.width, 0);
    EXPECT_EQ(frontEnd.fields.height, 7);
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "padded name");
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "2001") << "the first of two equal keys counts";
    EXPECT_EQ(table.record(0)->field(COLUMN_BAUDRATE), "19200") << "a repeated section adds nothing";
    EXPECT_EQ(table.record(0)->field(COLUMN_COMPORT), std::string(259, 'n'));
}

TEST_F(Configuration, LineBreaksInsideValuesCannotAddKeys)
{
    {
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        auto record = newServiceRecord();
        record->field(COLUMN_NAME) = "evil\n[General]\nservices   = 99";
        record->field(COLUMN_TCPIP) = "2001\r\nbaudrate  = 2400";
        table.addService(std::move(record));
        table.saveConfiguration(false);
    }
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "evil [General] services   = 99");
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "2001  baudrate  = 2400");
    EXPECT_EQ(table.record(0)->field(COLUMN_BAUDRATE), "19200");
}

TEST_F(Configuration, AutostartEntryFollowsTheBoxOnlyWhenSaved)
{
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    write_file(place.machinePath(), ConfigPlace::platformText("[General]\nautostart = 1\n"));
    table.loadConfiguration();
    EXPECT_TRUE(frontEnd.autostart);
    EXPECT_FALSE(place.autostartEntry()) << "reading never touches the entry";

    frontEnd.autostart = true;
    table.saveConfiguration(false);
    std::optional<std::string> entry = place.autostartEntry();
    ASSERT_TRUE(entry);
#ifdef _WIN32
    EXPECT_EQ(*entry, managerGlobals.modulePath);
#else
    EXPECT_NE(entry->find("\nExec=/opt/vantrel/bin/vantrel\n"), std::string::npos) << *entry;
    EXPECT_EQ(entry->rfind("[Desktop Entry]\n", 0), 0u) << *entry;
#endif

    // Clearing the box changes nothing until the next save.
    frontEnd.autostart = false;
    EXPECT_TRUE(place.autostartEntry());
    table.saveConfiguration(true);
    EXPECT_FALSE(place.autostartEntry());
    table.saveConfiguration(false); // removing what is not there is fine
    EXPECT_FALSE(place.autostartEntry());
    EXPECT_NE(read_file(place.machinePath()).find("autostart = 0"), std::string::npos);
}

#ifdef _WIN32
TEST_F(Configuration, AReadOnlyFileIsLeftAloneAndAttributesAreKept)
{
    const std::string old = ConfigPlace::platformText("[General]\nservices = 0\n");
    write_file(place.machinePath(), old);
    ASSERT_TRUE(SetFileAttributesA(place.machinePath().c_str(), FILE_ATTRIBUTE_READONLY));
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    fillExample(frontEnd, table);
    table.saveConfiguration(false);
    EXPECT_EQ(read_file(place.machinePath()), old);

    ASSERT_TRUE(SetFileAttributesA(place.machinePath().c_str(), FILE_ATTRIBUTE_HIDDEN));
    table.saveConfiguration(false);
    EXPECT_NE(read_file(place.machinePath()).find("Board B"), std::string::npos);
    DWORD attributes = GetFileAttributesA(place.machinePath().c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << "the file keeps its attributes";
    EXPECT_EQ(ConfigPlace::fileText(place.backupPath()), old);
}
#endif

TEST_F(Configuration, AutostartStoresAPathWithBlanksAsThePlatformNeedsIt)
{
    FakeFrontEnd frontEnd;
    frontEnd.autostart = true;
    ServiceTable table(frontEnd);
#ifdef _WIN32
    managerGlobals.modulePath = "C:\\Program Files\\Vantrel Server\\vantrel.exe";
    table.saveConfiguration(false);
    EXPECT_EQ(place.autostartEntry(), managerGlobals.modulePath);
#else
    managerGlobals.modulePath = "/opt/my tools/va$l\"t%1\\.bin";
    table.saveConfiguration(false);
    std::optional<std::string> entry = place.autostartEntry();
    ASSERT_TRUE(entry);
    // Quoted, with $ " \ escaped inside the quotes, % doubled, and every
    // backslash doubled once more as a string value.
    EXPECT_NE(entry->find("\nExec=\"/opt/my tools/va\\\\$l\\\\\"t%%1\\\\\\\\.bin\"\n"), std::string::npos)
        << *entry;
#endif
}

} // namespace
