#pragma once
// The table of service settings: every field of a service described once,
// by its list column (header text, default width, editor: a drop-down with
// its choices, a line editor with its check, or none), its configuration
// key (the value a new service gets, the default a missing or refused value
// reads as, whether the key is written while it holds that default), how it
// goes to the worker, and whether a headless reload restarts the service
// when it changes. The record, the list's columns and editors, the
// configuration file's reader and writer, the worker command line and the
// reload are driven by this table.
//
// Adding a setting is its column name below, its row in serviceSettings and
// the code that uses the value; nothing else.

#include "port/serial.h"
#include "worker/worker_args.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The list's columns in their order; each names one row of the table.
enum ServiceColumn {
    COLUMN_NAME,
    COLUMN_STATUS,
    COLUMN_TCPIP,
    COLUMN_COMPORT,
    COLUMN_BAUDRATE,
    COLUMN_HANDSHAKE,
    COLUMN_PARITY,
    COLUMN_STOPBITS,
    COLUMN_DTRO,
    COLUMN_DTRC,
    COLUMN_PROTOCOL, // Raw, or RFC 2217: the client sets the line
    COLUMN_CLIENT,   // who is served now, from the worker's reports
    COLUMN_BUSY,     // what a client that comes while another is served gets
    COLUMN_LISTEN,   // the address the service listens on
    COLUMN_ALLOW,    // who may connect
    SERVICE_COLUMNS // how many there are
};

// The column widths the configuration file keeps under "columns = 10" and
// "column0" to "column9", whatever columns come after them.
inline constexpr int STORED_COLUMN_WIDTHS = 10;

// The editor a cell of the column gets.
enum class SettingEditor {
    None,       // not edited: a text the manager shows (the Status)
    Text,       // a line editor; the setting's check, if any, decides what is taken
    Choice,     // a drop-down of the setting's choices, in their order
    SerialPort, // a drop-down of the serial ports found present
};

// One value of a drop-down setting and what it means to the worker: the
// bits it adds to the flags word, or the number its command-line word
// carries.
struct SettingChoice {
    const char* text;
    uint32_t workerCode = 0;
};

// The worker's command line, word by word (worker/worker_args reads it).
// A setting fills the words between the stop event and the report target
// but the flags word; there are never more than these nine.
enum WorkerWord {
    WORD_PROGRAM,       // the executable, quoted
    WORD_STOP_EVENT,    // the stop event's name, quoted
    WORD_TCP_PORT,
    WORD_SERIAL_PORT,
    WORD_BAUD_RATE,
    WORD_LINE_FLAGS,    // serial_line_flags: every FlagBits setting's code
    WORD_DTR_ON_OPEN,
    WORD_DTR_ON_CLOSE,
    WORD_REPORT_TARGET, // where the worker's report goes
    WORKER_WORDS
};

// How a setting's value reaches the worker.
enum class ToWorker {
    Nothing,
    Word,        // a command-line word of its own
    FlagBits,    // the code of its choice, or-ed into the flags word (a worker ignores bits it does not know)
    Environment, // a variable of the worker's environment
};

// The form of a setting's command-line word.
enum class WordForm {
    Quoted,     // the text between double quotes
    Plain,      // the text as it is
    ChoiceCode, // the decimal code of its choice, 0 for a value outside them
};

struct WorkerTransfer {
    ToWorker how = ToWorker::Nothing;
    int word = -1;                   // Word: its place, a WorkerWord
    WordForm form = WordForm::Plain; // Word: its form
    const char* variable = nullptr;  // Environment: the variable's name
};

// What a headless reload does when the file holds another value.
enum class OnReload {
    NotCompared, // not stored: nothing to compare
    TakenOver,   // the running service takes the new value in place
    Restarts,    // the service is stopped and started anew with it
};

struct ServiceSetting {
    ServiceColumn column;
    const char* header;
    int width; // the column's default width in pixels
    SettingEditor editor;
    std::span<const SettingChoice> choices = {};
    // Text: what the setting accepts (null: any text). A file value that
    // fails it reads as readDefault (but see startRefusal); an edit that
    // fails it is not taken.
    bool (*check)(std::string_view value) = nullptr;
    const char* key = nullptr; // in the configuration file; null: not stored
    const char* newValue = ""; // of a service the user adds
    const char* readDefault = ""; // for a missing key, or a value its choices or check refuse
    bool writtenWhenDefault = true; // false: the key is written only while the value is another
    // Non-null: a value the setting refuses is never replaced by a
    // default, as a wrong guess could open a board to everybody; the file's
    // value is kept as it is and a start of the service is refused with
    // this Status.
    const char* startRefusal = nullptr;
    WorkerTransfer toWorker = {};
    OnReload onReload = OnReload::Restarts;
};

inline constexpr SettingChoice baudRateChoices[] = {
    {"2400"}, {"4800"}, {"9600"}, {"14400"}, {"19200"}, {"38400"}, {"57600"}, {"115200"}, {"230400"},
};
inline constexpr SettingChoice handshakeChoices[] = {
    {"Xon/Xoff", port::SERIAL_LINE_XONXOFF},
    {"RTS/CTS", port::SERIAL_LINE_RTSCTS},
    {"None"},
};
inline constexpr SettingChoice parityChoices[] = {
    {"Even", port::SERIAL_LINE_PARITY},
    {"Odd", port::SERIAL_LINE_PARITY | port::SERIAL_LINE_ODD},
    {"None"},
};
inline constexpr SettingChoice stopBitsChoices[] = {{"1"}, {"2", port::SERIAL_LINE_TWO_STOP}};
inline constexpr SettingChoice noYesChoices[] = {{"No", 0}, {"Yes", 1}};
inline constexpr SettingChoice protocolChoices[] = {{"Raw"}, {"RFC 2217", WORKER_PROTOCOL_RFC2217}};
inline constexpr SettingChoice busyChoices[] = {
    {"Queue"},
    {"Refuse", WORKER_BUSY_REFUSE},
    {"Take over", WORKER_BUSY_TAKE_OVER},
};

// The listen address: empty (every interface), an IPv4 or IPv6 address,
// or "localhost". The allow list: empty (everybody), or addresses and
// prefixes separated by commas.
bool isListenAddress(std::string_view value);
bool isAllowList(std::string_view value);

inline constexpr std::array<ServiceSetting, SERVICE_COLUMNS> serviceSettings = {{
    {.column = COLUMN_NAME, .header = "Name", .width = 70, .editor = SettingEditor::Text,
     .key = "name", .newValue = "Service", .onReload = OnReload::TakenOver},
    {.column = COLUMN_STATUS, .header = "Status", .width = 60, .editor = SettingEditor::None,
     .onReload = OnReload::NotCompared},
    {.column = COLUMN_TCPIP, .header = "TCP/IP Port", .width = 70, .editor = SettingEditor::Text,
     .key = "tcpip", .newValue = "telnet",
     .toWorker = {.how = ToWorker::Word, .word = WORD_TCP_PORT, .form = WordForm::Quoted}},
    {.column = COLUMN_COMPORT, .header = "Serial Port", .width = 60, .editor = SettingEditor::SerialPort,
     .key = "comport", .toWorker = {.how = ToWorker::Word, .word = WORD_SERIAL_PORT, .form = WordForm::Quoted}},
    {.column = COLUMN_BAUDRATE, .header = "Baud Rate", .width = 55, .editor = SettingEditor::Choice,
     .choices = baudRateChoices, .key = "baudrate", .newValue = "19200", .readDefault = "19200",
     .toWorker = {.how = ToWorker::Word, .word = WORD_BAUD_RATE, .form = WordForm::Plain}},
    {.column = COLUMN_HANDSHAKE, .header = "Handshake", .width = 70, .editor = SettingEditor::Choice,
     .choices = handshakeChoices, .key = "handshake", .newValue = "None", .readDefault = "None",
     .toWorker = {.how = ToWorker::FlagBits}},
    {.column = COLUMN_PARITY, .header = "Parity", .width = 50, .editor = SettingEditor::Choice,
     .choices = parityChoices, .key = "parity", .newValue = "None", .readDefault = "None",
     .toWorker = {.how = ToWorker::FlagBits}},
    {.column = COLUMN_STOPBITS, .header = "Stop Bits", .width = 55, .editor = SettingEditor::Choice,
     .choices = stopBitsChoices, .key = "stopbits", .newValue = "1", .readDefault = "1",
     .toWorker = {.how = ToWorker::FlagBits}},
    {.column = COLUMN_DTRO, .header = "DTRO", .width = 45, .editor = SettingEditor::Choice,
     .choices = noYesChoices, .key = "dtro", .newValue = "No", .readDefault = "No",
     .toWorker = {.how = ToWorker::Word, .word = WORD_DTR_ON_OPEN, .form = WordForm::ChoiceCode}},
    {.column = COLUMN_DTRC, .header = "DTRC", .width = 45, .editor = SettingEditor::Choice,
     .choices = noYesChoices, .key = "dtrc", .newValue = "No", .readDefault = "No",
     .toWorker = {.how = ToWorker::Word, .word = WORD_DTR_ON_CLOSE, .form = WordForm::ChoiceCode}},
    {.column = COLUMN_PROTOCOL, .header = "Protocol", .width = 65, .editor = SettingEditor::Choice,
     .choices = protocolChoices, .key = "protocol", .newValue = "Raw", .readDefault = "Raw",
     .writtenWhenDefault = false, .startRefusal = "Error: Invalid Protocol specified",
     .toWorker = {.how = ToWorker::FlagBits}},
    {.column = COLUMN_CLIENT, .header = "Client", .width = 110, .editor = SettingEditor::None,
     .onReload = OnReload::NotCompared},
    {.column = COLUMN_BUSY, .header = "When busy", .width = 65, .editor = SettingEditor::Choice,
     .choices = busyChoices, .key = "busy", .newValue = "Queue", .readDefault = "Queue",
     .writtenWhenDefault = false, .startRefusal = "Error: Invalid When busy setting specified",
     .toWorker = {.how = ToWorker::FlagBits}},
    {.column = COLUMN_LISTEN, .header = "Listen", .width = 80, .editor = SettingEditor::Text,
     .check = isListenAddress, .key = "listen", .writtenWhenDefault = false,
     .startRefusal = "Error: Invalid Listen address specified",
     .toWorker = {.how = ToWorker::Environment, .variable = WORKER_LISTEN_VARIABLE}},
    {.column = COLUMN_ALLOW, .header = "Allow", .width = 100, .editor = SettingEditor::Text,
     .check = isAllowList, .key = "allow", .writtenWhenDefault = false,
     .startRefusal = "Error: Invalid Allow list specified",
     .toWorker = {.how = ToWorker::Environment, .variable = WORKER_ALLOW_VARIABLE}},
}};

// Keys are padded with blanks to this width before their "= " in the file.
inline constexpr size_t CONFIG_KEY_WIDTH = 10;

namespace settings_detail {

constexpr bool sameText(const char* a, const char* b)
{
    return a && b && std::string_view(a) == std::string_view(b);
}

constexpr bool isChoice(const ServiceSetting& setting, const char* text)
{
    for (const SettingChoice& choice : setting.choices)
        if (sameText(choice.text, text))
            return true;
    return false;
}

// What the rest of the manager relies on: rows in column order, keys that
// are unique and fit their padding, defaults among the choices, each of the
// setting words of the command line filled by exactly one setting.
constexpr bool tableIsSound()
{
    std::array<int, WORKER_WORDS> fills{};
    for (int column = 0; column < SERVICE_COLUMNS; ++column) {
        const ServiceSetting& setting = serviceSettings[column];
        if (setting.column != column || !setting.header)
            return false;
        if ((setting.editor == SettingEditor::Choice) != !setting.choices.empty())
            return false;
        if (!setting.choices.empty() && (!isChoice(setting, setting.readDefault) || !isChoice(setting, setting.newValue)))
            return false;
        if (setting.key) {
            if (std::string_view(setting.key).size() >= CONFIG_KEY_WIDTH)
                return false;
            for (int other = 0; other < column; ++other)
                if (sameText(serviceSettings[other].key, setting.key))
                    return false;
        } else if (setting.editor != SettingEditor::None || setting.toWorker.how != ToWorker::Nothing
                   || setting.onReload != OnReload::NotCompared) {
            return false; // what is not stored is only shown
        }
        if (setting.toWorker.how == ToWorker::Word) {
            if (setting.toWorker.word < 0 || setting.toWorker.word >= WORKER_WORDS)
                return false;
            ++fills[setting.toWorker.word];
            if (setting.toWorker.form == WordForm::ChoiceCode && setting.choices.empty())
                return false;
        }
        if (setting.toWorker.how == ToWorker::FlagBits && setting.choices.empty())
            return false;
        if (setting.toWorker.how == ToWorker::Environment && !setting.toWorker.variable)
            return false;
        if (setting.startRefusal && setting.editor != SettingEditor::Choice && setting.editor != SettingEditor::Text)
            return false; // nothing the user could have got wrong
        if (setting.startRefusal && !setting.key)
            return false;
    }
    for (int word = 0; word < WORKER_WORDS; ++word) {
        const bool fixed = word == WORD_PROGRAM || word == WORD_STOP_EVENT || word == WORD_LINE_FLAGS
                           || word == WORD_REPORT_TARGET;
        if (fills[word] != (fixed ? 0 : 1))
            return false;
    }
    return true;
}

} // namespace settings_detail

static_assert(settings_detail::tableIsSound(), "the table of service settings contradicts itself");

// Whether some setting goes to the worker this way.
constexpr bool anySettingGoes(ToWorker how)
{
    for (const ServiceSetting& setting : serviceSettings)
        if (setting.toWorker.how == how)
            return true;
    return false;
}

// Whether `value` may be the setting's value: one of its choices, else what
// its check accepts (any text without a check). The serial port is free
// text here: whether it exists is asked when its worker starts.
bool settingAccepts(const ServiceSetting& setting, std::string_view value);

// The setting's choices as the editors take them; empty for one without.
std::vector<std::string> choiceTexts(const ServiceSetting& setting);

// Where `value` is among the setting's choices, -1 when it is none of them.
int choiceIndex(const ServiceSetting& setting, std::string_view value);

// The worker code of `value`'s choice, 0 when it is none of them.
uint32_t choiceCode(const ServiceSetting& setting, std::string_view value);
