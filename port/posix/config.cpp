// The configuration folder, its per-user stand-in, and atomic file saves.

#include "port/config.h"
#include "port/posix/user_dirs.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace port {
namespace {

enum class SaveResult { Saved, CannotCreate, Failed };

bool write_all(int fd, const std::string& contents)
{
    const char* data = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Temporary file beside the target, flushed to disk, renamed over it.
SaveResult save_in(const std::string& directory, const std::string& file_name,
                   const std::string& contents)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    std::string target = directory + "/" + file_name;
    std::string temp = directory + "/." + file_name + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return SaveResult::CannotCreate;

    // Keep the old file's permissions; a new one is readable by everyone.
    struct stat old {};
    mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, contents) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return SaveResult::Failed;
    }
    int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return SaveResult::Saved;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The per-user stand-in for the machine-wide folder.
std::string user_config_directory()
{
    return user_config_home() + "/vantrel";
}

} // namespace

std::string user_config_home()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "";
    if (base.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            base = pw->pw_dir;
    }
    return base + "/.config";
}

std::string config_directory()
{
    const char* dir = std::getenv("VANTREL_CONFIG_DIR");
    return dir && *dir ? dir : "/etc/vantrel";
}

std::string config_read_path(const std::string& file_name)
{
    std::string user = user_config_directory() + "/" + file_name;
    return exists(user) ? user : config_directory() + "/" + file_name;
}

bool save_config_file(const std::string& file_name, const std::string& contents)
{
    std::string user = user_config_directory();
    if (exists(user + "/" + file_name))
        return save_in(user, file_name, contents) == SaveResult::Saved;
    SaveResult result = save_in(config_directory(), file_name, contents);
    if (result == SaveResult::CannotCreate)
        result = save_in(user, file_name, contents);
    return result == SaveResult::Saved;
}

bool replace_file(const std::string& path, const std::string& contents)
{
    std::filesystem::path p(path);
    return save_in(p.parent_path().string(), p.filename().string(), contents) == SaveResult::Saved;
}

} // namespace port
