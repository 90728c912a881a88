#pragma once
// Code loaded at run time from a shared library. POSIX only (dlopen): the
// Windows program links all of its code in.

#include <string>

namespace port {

// A shared library opened by its full path. Every symbol is bound when it
// opens, so a missing dependency shows here and not in the middle of a
// later call. The library stays mapped until the process ends, with its
// static objects and exit handlers: the object only releases its handle.
// Move-only.
class SharedLibrary {
public:
    SharedLibrary() = default;
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary();

    // Opens the library at `path`, never through a search path (a bare
    // name is taken in the current folder); on failure !loaded() and
    // error() says why.
    static SharedLibrary open(const std::string& path);

    bool loaded() const { return handle_ != nullptr; }
    // The loader's account of the last failure: of open(), or of symbol()
    // when it found nothing.
    const std::string& error() const { return error_; }
    // The address of an exported symbol; null when there is none.
    void* symbol(const char* name);

private:
    void release();

    void* handle_ = nullptr;
    std::string error_;
};

} // namespace port
