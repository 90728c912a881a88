#include "support/temp_dir.h"

#include "support/names.h"

namespace fs = std::filesystem;

namespace support {

TempDir::TempDir() : path_(fs::temp_directory_path() / unique_name("Dir"))
{
    fs::create_directories(path_);
}

TempDir::~TempDir()
{
    // A test may have taken the write permission away to provoke a failure.
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

} // namespace support
