#pragma once
// Gives a test the configuration file and autostart entry to itself, and
// puts back what was there before.
//   Linux: fresh folders through VANTREL_CONFIG_DIR, XDG_CONFIG_HOME and
//          XDG_CONFIG_DIRS.
//   Windows: the real file in the Windows directory and the real Run value,
//          saved first and restored afterwards.

#include "test_support.h"

#include "port/config.h"

#ifdef _WIN32
#include <windows.h>
#endif

inline constexpr const char* RUN_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class ConfigPlace {
public:
    ConfigPlace()
#ifndef _WIN32
        : machine_(root_ / "etc"), user_(root_ / "home"), xdg_(root_ / "xdg"),
          configDir_("VANTREL_CONFIG_DIR", machine_), userDir_("XDG_CONFIG_HOME", user_),
          xdgDirs_("XDG_CONFIG_DIRS", xdg_ + ":" + root_ / "other")
#endif
    {
#ifdef _WIN32
        savedFile_ = fileText(machinePath());
        savedBackup_ = fileText(backupPath());
        savedRun_ = autostartEntry();
        SetFileAttributesA(machinePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::remove(machinePath().c_str());
        std::remove(backupPath().c_str());
        setRunValue(std::nullopt);
#else
        fs::create_directories(machine_);
        fs::create_directories(xdg_ + "/autostart");
#endif
    }

    ~ConfigPlace()
    {
#ifdef _WIN32
        SetFileAttributesA(machinePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        putBack(machinePath(), savedFile_);
        putBack(backupPath(), savedBackup_);
        setRunValue(savedRun_);
#endif
    }
    ConfigPlace(const ConfigPlace&) = delete;
    ConfigPlace& operator=(const ConfigPlace&) = delete;

    // The machine-wide configuration file.
    std::string machinePath() const { return port::config_directory() + "/" + CONFIG_FILE_NAME; }
    // The previous generation, kept beside it by every save.
    std::string backupPath() const { return machinePath() + ".bak"; }
#ifndef _WIN32
    std::string userPath() const { return user_ + "/vantrel/" + CONFIG_FILE_NAME; }
    const TempDir& root() const { return root_; }
    std::string desktopEntryPath() const { return xdg_ + "/autostart/" + AUTOSTART_VALUE_NAME + ".desktop"; }
#endif

    static std::optional<std::string> fileText(const std::string& path)
    {
        if (!fs::exists(path))
            return std::nullopt;
        return readFile(path);
    }

    // The text lines of the platform: CR LF on Windows.
    static std::string platformText(const std::string& text)
    {
#ifdef _WIN32
        std::string out;
        for (char c : text) {
            if (c == '\n')
                out += '\r';
            out += c;
        }
        return out;
#else
        return text;
#endif
    }

    // Windows: the Run value's data. Linux: the desktop entry's text.
    std::optional<std::string> autostartEntry() const
    {
#ifdef _WIN32
        char data[1024];
        DWORD size = sizeof data;
        DWORD type = 0;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        LONG result = RegQueryValueExA(key, AUTOSTART_VALUE_NAME, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            return std::nullopt;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_GT(size, 0u);
        EXPECT_EQ(data[size - 1], '\0') << "the stored length includes the terminating zero";
        return std::string(data, size - 1);
#else
        return fileText(desktopEntryPath());
#endif
    }

private:
#ifdef _WIN32
    static void putBack(const std::string& path, const std::optional<std::string>& text)
    {
        if (text)
            writeFile(path, *text);
        else
            std::remove(path.c_str());
    }

    static void setRunValue(const std::optional<std::string>& value)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
            return;
        if (value)
            RegSetValueExA(key, AUTOSTART_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                           static_cast<DWORD>(value->size() + 1));
        else
            RegDeleteValueA(key, AUTOSTART_VALUE_NAME);
        RegCloseKey(key);
    }

    std::optional<std::string> savedFile_;
    std::optional<std::string> savedBackup_;
    std::optional<std::string> savedRun_;
#else
    TempDir root_;
    std::string machine_, user_, xdg_;
    ScopedEnv configDir_, userDir_, xdgDirs_;
#endif
};
