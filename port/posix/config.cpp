// The configuration folder, its per-user stand-in, and safe file saves.

#include "port/config.h"
#include "port/posix/user_dirs.h"

#include <cerrno>
#include <climits>
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

bool write_all_at(int fd, const std::string& contents)
{
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::pwrite(fd, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool read_all(const std::string& path, std::string& contents)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    contents.clear();
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return n == 0;
}

std::string parent_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save of `path` replaces: symbolic links are followed (a
// dangling one to the file it names), so that the link stays a link.
std::string link_target(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            break;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : parent_of(path) + "/" + target;
    }
    return path;
}

// Temporary file in `directory`, with `mode` (and the old owner where the
// system lets us), flushed to disk, renamed to `name`.
SaveResult write_by_rename(const std::string& directory, const std::string& name, const std::string& contents,
                           const struct stat* old)
{
    std::string target = directory + "/" + name;
    std::string temp = directory + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return SaveResult::CannotCreate;

    // Keep the old file's permissions; a new one is readable by everyone.
    mode_t mode = old ? (old->st_mode & 07777) : 0644;
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
            // Only the owner's privileges can give the file away; it then
            // keeps ours, with the old mode.
        }
    }
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

// For a file whose folder we may not write: overwritten where it is. A
// write that fails halfway puts the old contents back as far as it can.
SaveResult write_in_place(const std::string& path, const std::string& contents, const std::string* previous)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return SaveResult::CannotCreate;
    bool ok = write_all_at(fd, contents) && ::ftruncate(fd, static_cast<off_t>(contents.size())) == 0
              && ::fsync(fd) == 0;
    if (!ok && previous) {
        if (write_all_at(fd, *previous) && ::ftruncate(fd, static_cast<off_t>(previous->size())) == 0)
            ::fsync(fd);
    }
    ok = (::close(fd) == 0) && ok;
    return ok ? SaveResult::Saved : SaveResult::Failed;
}

// Replaces `directory`/`file_name` (or the file it links to) with
// `contents`: a temporary file beside it renamed over it, or, where only
// the file itself may be written, the file overwritten in place. A file we
// may not write is left alone (CannotCreate). With `keep_backup`, the old
// contents are first kept as `file_name`.bak in `directory`.
SaveResult save_in(const std::string& directory, const std::string& file_name, const std::string& contents,
                   bool keep_backup)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::string named = directory + "/" + file_name;
    const std::string target = link_target(named);
    const std::string target_dir = parent_of(target);
    const std::string target_name = target.substr(target.rfind('/') + 1);

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0))
        return SaveResult::CannotCreate;

    std::string previous;
    const bool have_previous = existed && read_all(target, previous);
    if (keep_backup && have_previous)
        write_by_rename(directory, file_name + ".bak", previous, &old);

    SaveResult result = write_by_rename(target_dir, target_name, contents, existed ? &old : nullptr);
    if (result == SaveResult::CannotCreate && existed)
        result = write_in_place(target, contents, have_previous ? &previous : nullptr);
    return result;
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
        return save_in(user, file_name, contents, true) == SaveResult::Saved;
    SaveResult result = save_in(config_directory(), file_name, contents, true);
    if (result == SaveResult::CannotCreate)
        result = save_in(user, file_name, contents, true);
    return result == SaveResult::Saved;
}

bool replace_file(const std::string& path, const std::string& contents)
{
    std::filesystem::path p(path);
    return save_in(p.parent_path().string(), p.filename().string(), contents, false) == SaveResult::Saved;
}

} // namespace port
