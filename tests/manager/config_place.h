#pragma once
// Gives a test the configuration file and autostart entry to itself, and
// puts back what was there before.
//   Linux: fresh folders through VANTREL_CONFIG_DIR, XDG_CONFIG_HOME and
//          VANTREL_AUTOSTART_DIR.
//   Windows: the real file in the Windows directory and the real Run value,
//          saved first and restored afterwards; a fresh application-data
//          folder (APPDATA), so that a per-user copy left by another run
//          is never read.

#include "test_support.h"

#include "port/config.h"

#ifdef _WIN32
#include "support/run_value.h"

#include <windows.h>
#endif

class ConfigPlace {
public:
    ConfigPlace()
#ifndef _WIN32
        : machine_(root_ / "etc"), user_(root_ / "home"), xdg_(root_ / "xdg"),
          configDir_("VANTREL_CONFIG_DIR", machine_), userDir_("XDG_CONFIG_HOME", user_),
          autostartDir_("VANTREL_AUTOSTART_DIR", xdg_ + "/autostart")
#else
        : appDataEnv_("APPDATA", appData_.path().string())
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

    static std::optional<std::string> fileText(const std::string& path) { return support::file_text(path); }

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
        auto value = support::read_run_value(AUTOSTART_VALUE_NAME);
        if (!value)
            return std::nullopt;
        EXPECT_EQ(value->type, static_cast<unsigned long>(REG_SZ));
        EXPECT_FALSE(value->bytes.empty());
        if (value->bytes.empty())
            return std::string();
        EXPECT_EQ(value->bytes.back(), '\0') << "the stored length includes the terminating zero";
        return value->bytes.substr(0, value->bytes.size() - 1);
#else
        return fileText(desktopEntryPath());
#endif
    }

private:
#ifdef _WIN32
    static void putBack(const std::string& path, const std::optional<std::string>& text)
    {
        if (text)
            write_file(path, *text);
        else
            std::remove(path.c_str());
    }

    static void setRunValue(const std::optional<std::string>& value)
    {
        support::write_run_value(AUTOSTART_VALUE_NAME, value);
    }

    std::optional<std::string> savedFile_;
    std::optional<std::string> savedBackup_;
    std::optional<std::string> savedRun_;
    TempDir appData_;
    ScopedEnv appDataEnv_;
#else
    TempDir root_;
    std::string machine_, user_, xdg_;
    ScopedEnv configDir_, userDir_, autostartDir_;
#endif
};
