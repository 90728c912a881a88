// Questions about one setting's values: what it accepts, its choices for
// the editors, and what a value means to the worker.

#include "manager/service_settings.h"

#include "port/ip_address.h"

bool settingAccepts(const ServiceSetting& setting, std::string_view value)
{
    if (!setting.choices.empty())
        return choiceIndex(setting, value) >= 0;
    return !setting.check || setting.check(value);
}

std::vector<std::string> choiceTexts(const ServiceSetting& setting)
{
    std::vector<std::string> texts;
    for (const SettingChoice& choice : setting.choices)
        texts.emplace_back(choice.text);
    return texts;
}

int choiceIndex(const ServiceSetting& setting, std::string_view value)
{
    for (size_t i = 0; i < setting.choices.size(); ++i)
        if (value == setting.choices[i].text)
            return static_cast<int>(i);
    return -1;
}

uint32_t choiceCode(const ServiceSetting& setting, std::string_view value)
{
    const int index = choiceIndex(setting, value);
    return index < 0 ? 0 : setting.choices[static_cast<size_t>(index)].workerCode;
}

bool isListenAddress(std::string_view value)
{
    port::IpAddress address;
    return value.empty() || port::parse_listen_address(value, address);
}

bool isAllowList(std::string_view value)
{
    std::vector<port::IpPrefix> list;
    return value.empty() || port::parse_ip_prefix_list(value, list);
}
