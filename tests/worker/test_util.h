#pragma once
// Small helpers shared by the worker tests.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "port/process.h"

namespace test {

using Clock = std::chrono::steady_clock;

inline long long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls cond every few milliseconds until it holds or timeout_ms pass.
template <typename Cond>
bool wait_until(Cond cond, int timeout_ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (cond())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A name no other test run uses.
inline std::string unique_name(const std::string& stem)
{
    static int counter = 0;
    return "VantrelTest" + stem + std::to_string(port::current_process_id()) + "_" + std::to_string(++counter);
}

// A temporary folder removed at the end of the scope.
struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        path = std::filesystem::temp_directory_path() / unique_name("Dir");
        std::filesystem::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string q(const std::string& s)
{
    return "\"" + s + "\"";
}

} // namespace test
