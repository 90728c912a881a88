// The rows of services and the list cells that mirror them.

#include "manager/service_rows.h"

#include <algorithm>
#include <utility>

ServiceRecord* ServiceRows::record(int row)
{
    return const_cast<ServiceRecord*>(std::as_const(*this).record(row));
}

const ServiceRecord* ServiceRows::record(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    return rows_[static_cast<size_t>(row)].get();
}

int ServiceRows::append(std::unique_ptr<ServiceRecord> record)
{
    if (!record || !list_.appendRow())
        return -1;
    const int row = count();
    rows_.push_back(std::move(record));
    show(row);
    return row;
}

void ServiceRows::remove(int row)
{
    if (!record(row))
        return;
    rows_.erase(rows_.begin() + row);
    list_.removeRow(row);
}

void ServiceRows::setField(int row, int column, const std::string& text)
{
    ServiceRecord* service = record(row);
    if (!service || column < 0 || column >= SERVICE_COLUMNS)
        return;
    service->field(column) = text;
    list_.setCellText(row, column, text);
}

void ServiceRows::sort(const std::function<bool(const ServiceRecord&, const ServiceRecord&)>& before)
{
    std::stable_sort(rows_.begin(), rows_.end(), [&](const auto& a, const auto& b) { return before(*a, *b); });
    for (int row = 0; row < count(); ++row)
        show(row);
}

void ServiceRows::show(int row)
{
    const ServiceRecord& service = *rows_[static_cast<size_t>(row)];
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        list_.setCellText(row, column, service.field(column));
}
