// CWqLibrary: run-time loading of shared libraries (dlopen/dlsym/dlclose).
#pragma once

#include "CWqError.h"

class CWqLibrary {
public:
    // autoUnload: close the library when the object dies.
    explicit CWqLibrary(bool autoUnload = true);
    ~CWqLibrary();
    CWqLibrary(const CWqLibrary&) = delete;
    CWqLibrary& operator=(const CWqLibrary&) = delete;

    CWqError Load(const char* path, bool global);
    CWqError GetAddress(const char* name, void*& address);
    void Unload();
    bool IsLoaded() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
    bool autoUnload_;
};
