// The configuration folder (the Windows directory) and atomic file saves.

#include "port/config.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace port {

std::string config_directory()
{
    char dir[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    return n > 0 && n < sizeof dir ? std::string(dir, n) : std::string();
}

std::string config_read_path(const std::string& file_name)
{
    return config_directory() + "\\" + file_name;
}

// Written in text mode (each "\n" becomes CR LF), flushed to disk, then
// moved over the old file.
bool replace_file(const std::string& path, const std::string& contents)
{
    std::string temp = path + ".new";
    FILE* file = std::fopen(temp.c_str(), "w");
    if (!file)
        return false;
    bool ok = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    ok = std::fflush(file) == 0 && ok;
    ok = ok && _commit(_fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (ok)
        ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok)
        DeleteFileA(temp.c_str());
    return ok;
}

bool save_config_file(const std::string& file_name, const std::string& contents)
{
    std::string dir = config_directory();
    return !dir.empty() && replace_file(dir + "\\" + file_name, contents);
}

} // namespace port
