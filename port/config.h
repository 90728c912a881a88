#pragma once
// Where the manager keeps its configuration file, and how it is replaced.
//
// Windows: the Windows directory (GetWindowsDirectoryA). A user who cannot
// write there (a standard user without elevation) gets a per-user copy in
// %APPDATA%\Vantrel Server instead, by the rules below; a file there marked
// read-only is left alone, as somebody wants it kept.
//
// POSIX: one machine-wide folder, $VANTREL_CONFIG_DIR when set, else
// /etc/vantrel. A user who cannot write there gets a per-user copy in
// $XDG_CONFIG_HOME/vantrel (default ~/.config/vantrel) instead.
//
// The per-user copy, on both:
//   - reading uses the per-user copy when it exists, else the machine-wide
//     file;
//   - saving goes to the per-user copy when it exists; otherwise to the
//     machine-wide folder (created if missing), and only when the folder or
//     the file cannot be created there, or the file there may not be
//     written, to the per-user copy.
// Once a user has a per-user copy it stays that user's configuration, so
// what is saved is always what is read back.

#include <string>

namespace port {

// The machine-wide configuration folder.
std::string config_directory();

// The file that reading `file_name` uses.
std::string config_read_path(const std::string& file_name);

// Replaces the configuration file `file_name` with `contents`, whose lines
// end in "\n" (written as CR LF on Windows). The old contents are first
// kept as `file_name`.bak beside it (one generation). The new content goes
// to a temporary file beside the old one, is flushed to disk and renamed
// over it, so a failed or interrupted save leaves the old file as it was;
// the file keeps its permissions. A symbolic link stays a link: the file it
// names is replaced. A file that may not be written is left alone; a file
// that may be written in a folder that may not is overwritten in place
// (the old contents put back if that fails). False when nothing was saved.
bool save_config_file(const std::string& file_name, const std::string& contents);

// Writes `contents` to `path` the same way, nothing redirected and no
// backup kept.
bool replace_file(const std::string& path, const std::string& contents);

} // namespace port
