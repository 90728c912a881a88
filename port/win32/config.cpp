// The configuration folder (the Windows directory), its per-user stand-in
// under the user's application data, and safe file saves.

#include "port/config.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

namespace port {
namespace {

enum class SaveResult { Saved, CannotCreate, Failed };

// The text with each "\n" as CR LF, as a text-mode write gives it.
std::string crlf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// The file a link at `path` names; `path` itself when it is no link.
std::string link_target(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return path;
    char buffer[MAX_PATH + 8] = {};
    DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (n == 0 || n >= sizeof buffer)
        return path;
    std::string target(buffer, n);
    if (target.rfind("\\\\?\\", 0) == 0 && target.rfind("\\\\?\\UNC\\", 0) != 0)
        target.erase(0, 4);
    return target;
}

bool write_all(HANDLE file, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

bool read_all(const std::string& path, std::string& data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    data.clear();
    char buffer[65536];
    DWORD n = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &n, nullptr)) && n > 0)
        data.append(buffer, n);
    CloseHandle(file);
    return ok;
}

// Overwrites `path` where it is, for a file whose folder may not take a
// new one; a write that fails halfway puts the old contents back.
SaveResult write_in_place(const std::string& path, const std::string& data)
{
    std::string previous;
    bool have_previous = read_all(path, previous);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveResult::CannotCreate;
    bool ok = write_all(file, data) && SetEndOfFile(file) && FlushFileBuffers(file);
    if (!ok && have_previous && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && write_all(file, previous))
        SetEndOfFile(file);
    CloseHandle(file);
    return ok ? SaveResult::Saved : SaveResult::Failed;
}

// The new contents in a temporary file beside the target, flushed to disk,
// then put in the old file's place: ReplaceFileA keeps the old file's
// attributes and access rights; a new file is simply moved there. A file
// marked read-only is left alone (Failed): somebody wants it kept as it
// is. Where this user may not make the file (a standard user in the
// Windows directory): CannotCreate.
SaveResult save(const std::string& path, const std::string& contents, const std::string* backup)
{
    const std::string target = link_target(path);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return SaveResult::Failed;
    if (existed && backup)
        CopyFileA(target.c_str(), backup->c_str(), FALSE);

    const std::string data = crlf(contents);
    const std::string temp = target + ".new";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return existed ? write_in_place(target, data) : SaveResult::CannotCreate;
    bool ok = write_all(file, data) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok) {
        ok = existed ? ReplaceFileA(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                    nullptr) != 0
                     : MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok) {
        DeleteFileA(temp.c_str());
        return SaveResult::Failed;
    }
    // ReplaceFileA keeps the attributes too, but not on every
    // implementation.
    const DWORD keep = existed ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) : 0;
    const DWORD now = GetFileAttributesA(target.c_str());
    if (keep && now != INVALID_FILE_ATTRIBUTES && (now & keep) != keep)
        SetFileAttributesA(target.c_str(), (now & ~FILE_ATTRIBUTE_NORMAL) | keep);
    return SaveResult::Saved;
}

bool is_file(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The per-user stand-in for the Windows directory: a folder of the
// program's in the user's application data (%APPDATA%, else the shell's
// folder of that name); empty when there is none.
std::string user_config_directory()
{
    char base[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableA("APPDATA", base, sizeof base);
    if (n == 0 || n >= sizeof base) {
        if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
            return {};
    }
    return std::string(base) + "\\Vantrel Server";
}

SaveResult save_with_backup(const std::string& directory, const std::string& file_name, const std::string& contents)
{
    const std::string path = directory + "\\" + file_name;
    const std::string backup = path + ".bak";
    return save(path, contents, &backup);
}

} // namespace

std::string config_directory()
{
    char dir[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    return n > 0 && n < sizeof dir ? std::string(dir, n) : std::string();
}

std::string config_read_path(const std::string& file_name)
{
    const std::string user = user_config_directory();
    if (!user.empty() && is_file(user + "\\" + file_name))
        return user + "\\" + file_name;
    return config_directory() + "\\" + file_name;
}

bool replace_file(const std::string& path, const std::string& contents)
{
    return save(path, contents, nullptr) == SaveResult::Saved;
}

bool save_config_file(const std::string& file_name, const std::string& contents)
{
    const std::string user = user_config_directory();
    if (!user.empty() && is_file(user + "\\" + file_name))
        return save_with_backup(user, file_name, contents) == SaveResult::Saved;
    const std::string dir = config_directory();
    SaveResult result = dir.empty() ? SaveResult::CannotCreate : save_with_backup(dir, file_name, contents);
    if (result == SaveResult::CannotCreate && !user.empty()) {
        // A standard user may not write the Windows directory: from now on
        // this user's own copy is read and saved.
        CreateDirectoryA(user.c_str(), nullptr);
        result = save_with_backup(user, file_name, contents);
    }
    return result == SaveResult::Saved;
}

} // namespace port
