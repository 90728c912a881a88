#pragma once
// The rows of services: row i owns the record of the service at index i,
// and the front end's list shows it in its own row i, cell by cell. Every
// change of a record's shown field goes through here, so that list and
// records never differ. A service is named by its 0-based row; a row
// outside the table names none.

#include "manager/front_end.h"
#include "manager/service_record.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ServiceRows {
public:
    explicit ServiceRows(ServiceListDisplay& list) : list_(list) {}
    ServiceRows(const ServiceRows&) = delete;
    ServiceRows& operator=(const ServiceRows&) = delete;

    int count() const { return static_cast<int>(rows_.size()); }
    ServiceRecord* record(int row);
    const ServiceRecord* record(int row) const;

    // Appends the record as the last row with all its cells shown: the new
    // row, or -1 when the list refuses a row (the record is then dropped).
    int append(std::unique_ptr<ServiceRecord> record);
    // Removes a row with its record; nothing for a row outside the table.
    void remove(int row);
    // Drops every record; the list's rows go with the window.
    void clear() { rows_.clear(); }
    // Sets a field of a row and its cell.
    void setField(int row, int column, const std::string& text);
    // Passes a client event of a row on to the list.
    void showClientEvent(int row, const ClientEvent& event)
    {
        if (record(row))
            list_.showClientEvent(row, event);
    }
    // Orders the rows by `before`, keeping the order of equal ones, and
    // shows every row again.
    void sort(const std::function<bool(const ServiceRecord&, const ServiceRecord&)>& before);

private:
    void show(int row); // every cell from the record

    ServiceListDisplay& list_;
    std::vector<std::unique_ptr<ServiceRecord>> rows_;
};
