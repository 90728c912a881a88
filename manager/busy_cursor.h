#pragma once
// The front end's busy cursor for the life of a scope.

#include "manager/front_end.h"

class BusyCursor {
public:
    explicit BusyCursor(ManagerFrontEnd& frontEnd) : frontEnd_(frontEnd) { frontEnd_.beginBusyCursor(); }
    ~BusyCursor() { frontEnd_.endBusyCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    ManagerFrontEnd& frontEnd_;
};
