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

namespace {

socklen_t claim_address(const std::string& name, sockaddr_un& addr)
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
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, key.data(), key.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
}

} // namespace

bool claim_single_instance(const std::string& name)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    const socklen_t len = claim_address(name, addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    // The descriptor stays open for the life of the process: that is the
    // claim.
    return true;
}

bool single_instance_held(const std::string& name)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    const socklen_t len = claim_address(name, addr);
    // A name that nobody has bound refuses the connection.
    const bool held = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    ::close(fd);
    return held;
}

} // namespace port
