// Run-time loading of shared libraries.
#include "CWqLibrary.h"

#include <dlfcn.h>

#include <string>

namespace {
constexpr int kLoadFailed = 1;
constexpr int kNotLoaded = 2;
constexpr int kNoSymbol = 3;

constexpr const char* kNoName = "no library name given";
constexpr const char* kDlopenFailed = "dlopen failed";
constexpr const char* kNothingLoaded = "no library loaded";
constexpr const char* kNoSymbolName = "no symbol name given";
constexpr const char* kNoAddress = "symbol has no address ";

std::string lastDlError(const char* fallback) {
    const char* text = dlerror();
    return text ? text : fallback;
}
}  // namespace

CWqLibrary::CWqLibrary(bool autoUnload) : autoUnload_(autoUnload) {}

CWqLibrary::~CWqLibrary() {
    if (autoUnload_) Unload();
}

CWqError CWqLibrary::Load(const char* path, bool global) {
    if (!path || !*path) return CWqError(kLoadFailed, kNoName);
    dlerror();
    void* handle = dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (!handle) return CWqError(kLoadFailed, lastDlError(kDlopenFailed));
    // A second Load replaces the first; the old handle is released only when this object
    // owns the unloading, as it would have been at destruction.
    if (handle_ && autoUnload_) dlclose(handle_);
    handle_ = handle;
    return CWqError();
}

CWqError CWqLibrary::GetAddress(const char* name, void*& address) {
    address = nullptr;
    if (!handle_) return CWqError(kNotLoaded, kNothingLoaded);
    if (!name || !*name) return CWqError(kNoSymbol, kNoSymbolName);
    dlerror();
    void* found = dlsym(handle_, name);
    const char* failure = dlerror();
    if (failure) return CWqError(kNoSymbol, failure);
    if (!found) return CWqError(kNoSymbol, std::string(kNoAddress) + "[" + name + "]");
    address = found;
    return CWqError();
}

void CWqLibrary::Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}
