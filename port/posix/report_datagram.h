#pragma once
// The status report's datagram on Linux: {process id, byte count} in host
// order, then the text with its terminating zero.

#include <cstddef>
#include <cstdint>

namespace port::report_datagram {

struct Header {
    uint32_t process_id;
    uint32_t byte_count; // text length + 1
};

// A well-formed report: the header, then exactly byte_count bytes of text
// ending in its zero, nothing cut off (`truncated` false). On success sets
// `process_id` and `text` (pointing into `data`).
bool parse(const char* data, size_t size, bool truncated, uint32_t& process_id, const char*& text);

} // namespace port::report_datagram
