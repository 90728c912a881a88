// Shared libraries on Linux: dlopen with immediate binding, never unloaded.

#include "port/shared_library.h"

#include <dlfcn.h>
#include <utility>

namespace port {

namespace {

std::string last_error(const char* otherwise)
{
    const char* text = dlerror();
    return text ? text : otherwise;
}

} // namespace

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_))
{
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept
{
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

SharedLibrary::~SharedLibrary()
{
    release();
}

SharedLibrary SharedLibrary::open(const std::string& path)
{
    SharedLibrary library;
    if (path.empty()) {
        library.error_ = "no library path";
        return library;
    }
    // A name without a slash would send dlopen through the search path.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // RTLD_NODELETE: code that registered exit handlers or thread-local
    // destructors must still be there when they run.
    dlerror();
    library.handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library.handle_)
        library.error_ = last_error("cannot be loaded");
    return library;
}

void* SharedLibrary::symbol(const char* name)
{
    if (!handle_)
        return nullptr;
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address)
        error_ = last_error("no such symbol");
    return address;
}

void SharedLibrary::release()
{
    if (handle_)
        dlclose(handle_);
    handle_ = nullptr;
}

} // namespace port
