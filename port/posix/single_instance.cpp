// The single-instance claim on Linux: an abstract Unix socket bound to a
// name derived from the text; the kernel drops the binding when the holder
// dies.

#include "port/posix/object_name.h"
#include "port/single_instance.h"

#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace port {

bool claim_single_instance(const std::string& name)
{
    // Abstract names are at most 107 bytes; a longer text keeps its start
    // and a hash of the whole.
    std::string key = "vantrel-instance-" + encode_object_name(name);
    if (key.size() > 90) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name)
            h = (h ^ c) * 1099511628211ull;
        key = key.substr(0, 70) + "-" + std::to_string(h);
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, key.data(), key.size());
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    // The descriptor stays open for the life of the process: that is the
    // claim.
    return true;
}

} // namespace port
