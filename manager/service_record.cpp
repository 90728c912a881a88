// The service record: its fields by column, its stop-event name, and what
// its worker is started with, as the table of service settings says.

#include "manager/service_record.h"

#include "manager/manager_globals.h"
#include "manager/product_texts.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

ServiceRecord::ServiceRecord()
{
    for (const ServiceSetting& setting : serviceSettings)
        fields_[setting.column] = setting.newValue;
}

std::string& ServiceRecord::field(int column)
{
    return const_cast<std::string&>(std::as_const(*this).field(column));
}

const std::string& ServiceRecord::field(int column) const
{
    if (column < 0 || column >= SERVICE_COLUMNS)
        throw std::out_of_range("service column");
    return fields_[static_cast<size_t>(column)];
}

std::unique_ptr<ServiceRecord> newServiceRecord()
{
    auto record = std::make_unique<ServiceRecord>();
    char name[96];
    std::snprintf(name, sizeof name, "%s%d_%d", PRODUCT_PREFIX,
                  static_cast<int>(managerGlobals.processId), managerGlobals.serviceCounter++);
    record->eventName = name;
    return record;
}

int serviceLineFlags(const ServiceRecord& record)
{
    uint32_t flags = 0;
    for (const ServiceSetting& setting : serviceSettings)
        if (setting.toWorker.how == ToWorker::FlagBits)
            flags |= choiceCode(setting, record.field(setting.column));
    return static_cast<int>(flags);
}

std::string workerCommandLine(const ServiceRecord& record, uintptr_t reportTarget)
{
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    std::array<std::string, WORKER_WORDS> words;
    words[WORD_PROGRAM] = quoted(managerGlobals.modulePath);
    words[WORD_STOP_EVENT] = quoted(record.eventName);
    words[WORD_LINE_FLAGS] = std::to_string(serviceLineFlags(record));
    words[WORD_REPORT_TARGET] = std::to_string(static_cast<uint32_t>(reportTarget));
    for (const ServiceSetting& setting : serviceSettings) {
        if (setting.toWorker.how != ToWorker::Word)
            continue;
        const std::string& value = record.field(setting.column);
        std::string& word = words[static_cast<size_t>(setting.toWorker.word)];
        switch (setting.toWorker.form) {
        case WordForm::Quoted: word = quoted(value); break;
        case WordForm::Plain: word = value; break;
        case WordForm::ChoiceCode: word = std::to_string(choiceCode(setting, value)); break;
        }
    }
    std::string line = words[0];
    for (size_t i = 1; i < words.size(); ++i)
        line += ' ' + words[i];
    return line;
}

port::Process::Environment workerEnvironment(const ServiceRecord& record)
{
    port::Process::Environment environment;
    for (const ServiceSetting& setting : serviceSettings)
        if (setting.toWorker.how == ToWorker::Environment)
            environment.emplace_back(setting.toWorker.variable, record.field(setting.column));
    return environment;
}
