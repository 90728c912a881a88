#pragma once
// The window's busy cursor for the life of a scope; nothing without a
// window (headless mode).

#include "manager/front_end.h"

class BusyCursor {
public:
    explicit BusyCursor(ManagerWindow* window) : window_(window)
    {
        if (window_)
            window_->beginBusyCursor();
    }
    explicit BusyCursor(ManagerWindow& window) : BusyCursor(&window) {}
    ~BusyCursor()
    {
        if (window_)
            window_->endBusyCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    ManagerWindow* window_;
};
