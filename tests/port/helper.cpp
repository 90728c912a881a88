// A child process for the process-facility tests. Modes:
//   echo <file> <words...>        writes its words to <file>, one per line
//   wait-event <name> <ms>        0 when the event is set in time, 1 if not,
//                                 2 when it does not open
//   set-event <name>              sets the event; 2 when it does not open
//   sleep <ms> <code>             sleeps, then exits with <code>
//   claim <name> <ready-event>    claims the single instance; 3 when taken;
//                                 otherwise sets <ready-event> and waits for
//                                 it to be reset (at most 60 s)
//   report <target> <text>        sends a status report, then exits 0
//   report-as <target> <pid> <text>  the same, naming another process id
//   fds <file>                    writes its open descriptors to <file>
// Windows, for the standard-user tests (wine_user/):
//   save-config <file> <text>     saves <text> as the configuration file
//                                 <file>; 1 when nothing was saved
//   config-path <file> <out>      writes the path reading <file> uses to <out>
//   autostart <name> <program> <0|1>   sets or removes the autostart entry
//   run-values <name> <out>       writes "machine=<value>" and "user=<value>"
//                                 of the Run keys to <out>, "-" for none
//   deny-run-key                  lets nobody write the machine-wide Run key,
//                                 as for a standard user

#include "port/autostart.h"
#include "port/config.h"
#include "port/named_event.h"
#include "port/process.h"
#include "port/single_instance.h"
#include "port/report.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#else
#include <dirent.h>
#endif

int main(int argc, char** argv)
{
    if (argc < 2)
        return 100;
    std::string mode = argv[1];
    if (mode == "echo" && argc >= 3) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f)
            return 101;
        for (int i = 3; i < argc; ++i)
            std::fprintf(f, "%s\n", argv[i]);
        std::fclose(f);
        return 0;
    }
    if (mode == "wait-event" && argc == 4) {
        auto event = port::NamedEvent::open(argv[2]);
        if (!event.valid())
            return 2;
        return event.wait(std::atoi(argv[3])) ? 0 : 1;
    }
    if (mode == "set-event" && argc == 3) {
        auto event = port::NamedEvent::open(argv[2]);
        return event.valid() && event.set() ? 0 : 2;
    }
    if (mode == "sleep" && argc == 4) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return std::atoi(argv[3]);
    }
    if (mode == "claim" && argc == 4) {
        if (!port::claim_single_instance(argv[2]))
            return 3;
        auto ready = port::NamedEvent::open(argv[3]);
        if (!ready.valid() || !ready.set())
            return 2;
        for (int i = 0; i < 600 && ready.is_set(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 0;
    }
    // A report that names another process than the sender.
    if (mode == "report-as" && argc == 5) {
        port::send_report(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)),
                          static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)), argv[4]);
        return 0;
    }
    if (mode == "report" && argc == 4) {
        port::send_report(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)),
                          port::current_process_id(), argv[3]);
        return 0;
    }
#ifdef _WIN32
    const char* run_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    if (mode == "save-config" && argc == 4)
        return port::save_config_file(argv[2], std::string(argv[3]) + "\n") ? 0 : 1;
    if (mode == "config-path" && argc == 4) {
        FILE* f = std::fopen(argv[3], "wb");
        if (!f)
            return 101;
        std::fprintf(f, "%s", port::config_read_path(argv[2]).c_str());
        std::fclose(f);
        return 0;
    }
    if (mode == "autostart" && argc == 5) {
        port::set_autostart(argv[2], argv[3], std::atoi(argv[4]) != 0);
        return 0;
    }
    if (mode == "run-values" && argc == 4) {
        FILE* f = std::fopen(argv[3], "wb");
        if (!f)
            return 101;
        for (auto [label, root] : {std::pair{"machine", HKEY_LOCAL_MACHINE}, std::pair{"user", HKEY_CURRENT_USER}}) {
            char value[1024] = "-";
            DWORD size = sizeof value;
            if (RegGetValueA(root, run_key, argv[2], RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
                std::strcpy(value, "-");
            std::fprintf(f, "%s=%s\n", label, value);
        }
        std::fclose(f);
        return 0;
    }
    if (mode == "deny-run-key" && argc == 2) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, WRITE_DAC, &key) != ERROR_SUCCESS)
            return 2;
        EXPLICIT_ACCESSA read_only{};
        read_only.grfAccessPermissions = KEY_READ;
        read_only.grfAccessMode = SET_ACCESS;
        read_only.grfInheritance = NO_INHERITANCE;
        read_only.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        read_only.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        read_only.Trustee.ptstrName = const_cast<char*>("EVERYONE");
        PACL acl = nullptr;
        const bool ok = SetEntriesInAclA(1, &read_only, nullptr, &acl) == ERROR_SUCCESS
                        && SetSecurityInfo(key, SE_REGISTRY_KEY,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl, nullptr)
                               == ERROR_SUCCESS;
        LocalFree(acl);
        RegCloseKey(key);
        return ok ? 0 : 2;
    }
#else
    if (mode == "fds" && argc == 3) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f)
            return 101;
        DIR* dir = opendir("/proc/self/fd");
        if (!dir)
            return 102;
        int own = dirfd(dir);
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.' && std::atoi(e->d_name) != own && std::atoi(e->d_name) != fileno(f))
                std::fprintf(f, "%s\n", e->d_name);
        }
        closedir(dir);
        std::fclose(f);
        return 0;
    }
#endif
    return 100;
}
