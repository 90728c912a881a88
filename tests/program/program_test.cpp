// The Linux program keeps the GUI toolkit out of its workers: the
// executable needs no Qt library, a running worker maps none, and the
// manager mode loads the window library, vantrel-ui.so, from beside the
// executable or from ../lib/vantrel/, and says so plainly when it cannot.

#include "worker/bridge_harness.h"

#include "manager/product_texts.h"
#include "port/single_instance.h"
#include "support/device_map.h"
#include "support/program_run.h"
#include "support/temp_dir.h"
#include "ui/qt/library/window_library.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

using namespace test;
namespace fs = std::filesystem;

namespace {

// The DT_NEEDED entries of an ELF file's dynamic section: the libraries
// the dynamic loader maps with it. Empty when the file is not a 64-bit ELF
// file with a dynamic section.
std::vector<std::string> needed_libraries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> needed;
    auto fits = [&](uint64_t offset, uint64_t size) { return offset <= image.size() && size <= image.size() - offset; };
    if (!fits(0, sizeof(Elf64_Ehdr)) || image.compare(0, SELFMAG, ELFMAG) != 0 || image[EI_CLASS] != ELFCLASS64)
        return needed;
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    auto section = [&](size_t index, Elf64_Shdr& out) {
        uint64_t at = header.e_shoff + index * uint64_t(header.e_shentsize);
        if (index >= header.e_shnum || header.e_shentsize < sizeof out || !fits(at, sizeof out))
            return false;
        std::memcpy(&out, image.data() + at, sizeof out);
        return true;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr dynamic, strings;
        if (!section(i, dynamic) || dynamic.sh_type != SHT_DYNAMIC || !section(dynamic.sh_link, strings)
            || !fits(dynamic.sh_offset, dynamic.sh_size) || !fits(strings.sh_offset, strings.sh_size))
            continue;
        for (uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size; at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            std::memcpy(&entry, image.data() + dynamic.sh_offset + at, sizeof entry);
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag != DT_NEEDED || entry.d_un.d_val >= strings.sh_size)
                continue;
            const char* name = image.data() + strings.sh_offset + entry.d_un.d_val;
            needed.emplace_back(name, strnlen(name, strings.sh_size - entry.d_un.d_val));
        }
    }
    return needed;
}

bool is_qt(const std::string& library)
{
    return library.rfind("libQt", 0) == 0;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

// The manager's single-instance claim, held by a child process of the test
// for the life of the object: a manager started meanwhile ends at once
// after its start-up, without a window. The claim goes with the object.
class InstanceClaim {
public:
    InstanceClaim()
    {
        int ready[2], hold[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        if (pipe2(hold, O_CLOEXEC) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            // Tries for a while: another manager on the machine may hold
            // the claim for a moment.
            const Deadline deadline(20000);
            char claimed = 0;
            while (!(claimed = port::claim_single_instance(PRODUCT_PREFIX)) && !deadline.expired())
                poll(nullptr, 0, 50);
            [[maybe_unused]] ssize_t w = ::write(ready[1], &claimed, 1);
            char byte;
            [[maybe_unused]] ssize_t r = ::read(hold[0], &byte, 1); // until the test lets go
            _exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        hold_ = hold[1];
        pollfd p{ready[0], POLLIN, 0};
        char claimed = 0;
        if (pid_ > 0 && poll(&p, 1, 30000) == 1 && ::read(ready[0], &claimed, 1) == 1)
            held_ = claimed != 0;
        ::close(ready[0]);
    }
    ~InstanceClaim()
    {
        if (hold_ >= 0)
            ::close(hold_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    int hold_ = -1;
    bool held_ = false;
};

// The manager mode of `program` with a home and configuration of its own
// and the loader's record of the files it opened; what it printed, and the
// loader's record.
struct ManagerRun {
    ProgramRun run;
    std::string loaded;
};

ManagerRun run_manager(const std::string& program, const TempDir& home)
{
    const std::string log = home / "loader";
    ManagerRun result;
    result.run = run_program(program, {},
                             {"HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + (home / "config"),
                              "VANTREL_CONFIG_DIR=" + (home / "etc"), "QT_QPA_PLATFORM=offscreen",
                              "LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + log});
    for (const auto& entry : fs::directory_iterator(home.path()))
        if (entry.path().filename().string().rfind("loader.", 0) == 0)
            result.loaded += read_file(entry.path().string());
    return result;
}

// A copy of the executable at `place`, where /proc/self/exe then leads.
void copy_program(const fs::path& place)
{
    fs::create_directories(place.parent_path());
    fs::copy_file(VANTREL_EXE, place, fs::copy_options::overwrite_existing);
    fs::permissions(place, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

} // namespace

TEST(Program, TheExecutableNeedsNoQtLibrary)
{
    const std::vector<std::string> needed = needed_libraries(VANTREL_EXE);
    ASSERT_FALSE(needed.empty()) << "no dynamic section read from " << VANTREL_EXE;
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end()) << joined(needed);
    for (const std::string& library : needed)
        EXPECT_FALSE(is_qt(library)) << VANTREL_EXE << " needs " << library;
}

TEST(Program, TheWindowLibraryCarriesQt)
{
    const std::vector<std::string> needed = needed_libraries(VANTREL_UI_LIBRARY);
    EXPECT_NE(std::find_if(needed.begin(), needed.end(),
                           [](const std::string& library) { return library.rfind("libQt6Widgets.so", 0) == 0; }),
              needed.end())
        << joined(needed);
    EXPECT_EQ(fs::path(VANTREL_UI_LIBRARY).parent_path(), fs::path(VANTREL_EXE).parent_path())
        << "the window library is built beside the executable";
}

TEST(Program, AWorkerWithAClientMapsNoQtLibrary)
{
    Board board;
    ASSERT_TRUE(board.valid());
    DeviceMap devices;
    devices.map("COM5", board.slave());
    WorkerOptions options;
    options.tcp_port = std::to_string(free_port());
    Worker worker;
    ASSERT_TRUE(worker.start(options));
    Client client;
    ASSERT_TRUE(client.connect(static_cast<uint16_t>(std::stoi(options.tcp_port)), 15000));
    ASSERT_TRUE(client.send("!"));
    ASSERT_EQ(board.read(1, 15000), "!") << "the worker relays";

    const std::string maps = read_file("/proc/" + std::to_string(worker.pid()) + "/maps");
    EXPECT_NE(maps.find("libc.so.6"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libQt"), std::string::npos) << maps;
    EXPECT_EQ(maps.find(window_library::FILE_NAME), std::string::npos) << maps;
    EXPECT_GE(worker.stop_and_time(20000), 0);
    EXPECT_EQ(worker.exit_code(), 0);
}

TEST(Program, TheManagerLoadsTheWindowLibraryBesideTheExecutable)
{
    InstanceClaim claim;
    if (!claim.held())
        GTEST_SKIP() << "another manager holds the single-instance claim on this machine";
    TempDir home;
    const ManagerRun manager = run_manager(VANTREL_EXE, home);
    ASSERT_TRUE(manager.run.ended) << manager.run.err;
    // The claim is taken: the manager's start-up ran and ended it at once.
    EXPECT_EQ(manager.run.exit_code, 0) << manager.run.err;
    EXPECT_EQ(manager.run.err.find("vantrel:"), std::string::npos) << manager.run.err;
    const std::string library = fs::path(VANTREL_UI_LIBRARY).lexically_normal().string();
    EXPECT_NE(manager.loaded.find("file=" + library), std::string::npos) << manager.loaded;
}

TEST(Program, AnInstalledManagerLoadsTheWindowLibraryFromLibVantrel)
{
    InstanceClaim claim;
    if (!claim.held())
        GTEST_SKIP() << "another manager holds the single-instance claim on this machine";
    TempDir home;
    // usr/bin/vantrel and usr/lib/vantrel/vantrel-ui.so, as the package
    // installs them.
    const fs::path program = home.path() / "usr/bin/vantrel";
    copy_program(program);
    const fs::path library = home.path() / "usr/lib/vantrel" / window_library::FILE_NAME;
    fs::create_directories(library.parent_path());
    fs::create_symlink(VANTREL_UI_LIBRARY, library);

    const ManagerRun manager = run_manager(program.string(), home);
    ASSERT_TRUE(manager.run.ended) << manager.run.err;
    EXPECT_EQ(manager.run.exit_code, 0) << manager.run.err;
    EXPECT_EQ(manager.run.err.find("vantrel:"), std::string::npos) << manager.run.err;
    EXPECT_NE(manager.loaded.find("file=" + library.string()), std::string::npos) << manager.loaded;
}

TEST(Program, WithoutItsWindowLibraryTheManagerSaysWhereItLookedAndEnds)
{
    TempDir home;
    const fs::path program = home.path() / "bin/vantrel";
    copy_program(program);

    const ManagerRun manager = run_manager(program.string(), home);
    ASSERT_TRUE(manager.run.ended) << manager.run.err;
    EXPECT_EQ(manager.run.exit_code, window_library::EXIT_NOT_LOADED) << manager.run.err;
    const std::string& err = manager.run.err;
    EXPECT_EQ(err.rfind("vantrel: ", 0), 0u) << err;
    EXPECT_NE(err.find(window_library::FILE_NAME), std::string::npos) << err;
    EXPECT_NE(err.find((home.path() / "bin").string()), std::string::npos) << err;
    EXPECT_NE(err.find((home.path() / "lib/vantrel").string()), std::string::npos) << err;
    EXPECT_EQ(manager.loaded.find("libQt"), std::string::npos) << "nothing of the window was loaded";
    EXPECT_TRUE(manager.run.out.empty()) << manager.run.out;
}

TEST(Program, AWindowLibraryThatCannotBeLoadedIsAnErrorWithTheReason)
{
    TempDir home;
    const fs::path program = home.path() / "bin/vantrel";
    copy_program(program);
    const fs::path library = home.path() / "bin" / window_library::FILE_NAME;
    ASSERT_TRUE(write_file(library.string(), "not a library\n"));

    const ManagerRun manager = run_manager(program.string(), home);
    ASSERT_TRUE(manager.run.ended) << manager.run.err;
    EXPECT_EQ(manager.run.exit_code, window_library::EXIT_NOT_LOADED) << manager.run.err;
    const std::string& err = manager.run.err;
    EXPECT_EQ(err.rfind("vantrel: cannot load the manager window's library: ", 0), 0u) << err;
    EXPECT_NE(err.find(library.string()), std::string::npos) << err;
}
