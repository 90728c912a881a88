#pragma once
// The descriptor table shared by the files of the library.

#include "port/serial.h"
#include "port/socket.h"
#include "port/wake.h"
#include "tarn/tarn.h"

#include <atomic>
#include <string>

struct tarn_slot {
    std::atomic<int> kind{TARN_FREE};
    port::SerialPort serial; // the OS handle of a serial port
    std::string name;
    std::string parameter;
    int (*open_hook)(int) = nullptr;
    void (*release_hook)(int) = nullptr;
    void (*close_hook)(int) = nullptr;
    tarn_abort_fn abort_callback = nullptr;
    const port::WakeSet* wake = nullptr; // the caller's wake objects, or none
    int (*read_fn)(int, void*, int) = nullptr;
    int (*write_fn)(int, const void*, int) = nullptr;
    // write_fn, ended early by a wake object or a time limit; null when
    // the kind's writes never wait.
    int (*watched_write_fn)(int, const void*, int, const port::WakeSet&, int) = nullptr;
    // Waits for the device to take or give more after read_fn or
    // write_fn moved nothing; null when the kind has no such wait.
    void (*idle_fn)(int, bool writing) = nullptr;
};

inline constexpr int TARN_SLOTS = 2;
extern tarn_slot tarn_slots[TARN_SLOTS];

inline bool tarn_valid(int d) { return d >= 0 && d < TARN_SLOTS; }

void tarn_release(int descriptor);

// The wake objects of every open descriptor, for a wait to sleep on beside
// its device, and the longest such a wait may last before the callbacks
// must be polled again: -1 (no limit) when every open descriptor with a
// callback also has wake objects, else one 50 ms slice.
int tarn_wake_plan(port::WakeSet& wake);

// Serial driver.
void tarn_serial_hooks(tarn_slot& slot);
int tarn_serial_open(int descriptor, const char* name, int flags, const char* baud);

// Socket driver.
void tarn_socket_hooks(tarn_slot& slot);
int tarn_socket_open(const char* service, int descriptor, const char* name);
