// The worker's command line: the eight words as the worker reads them, and
// the device kinds tarn_open chooses for its TCP and serial port words.
// The input is the words separated by zero bytes.

#include "tarn/tarn_internal.h"
#include "worker/worker_args.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words(9);
    words[0] = "vantrel";
    size_t word = 1;
    for (size_t i = 0; i < size && word < words.size(); ++i) {
        if (data[i] == 0)
            ++word;
        else
            words[word] += static_cast<char>(data[i]);
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    worker_args args = worker_read_args(argv.data());
    if (*args.tcp_port) {
        if (tarn_decide_kind(" server ", args.tcp_port) != TARN_SOCKET)
            std::abort();
        (void)tarn_lookup_service(args.tcp_port);
    }
    if (*args.serial_port && *args.baud_rate) {
        int kind = tarn_decide_kind(args.serial_port, args.baud_rate);
        if (kind != TARN_SOCKET && kind != TARN_SERIAL)
            std::abort();
    }
    return 0;
}
