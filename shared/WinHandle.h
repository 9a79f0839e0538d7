// Owners for Windows handles: each closes its handle on every return path.
#pragma once

#include <windows.h>

#include <utility>

// One owner for every handle type: T is the handle, Close the function that
// releases it, Invalid the value that means "no handle".
template <typename T, typename CloseFn, CloseFn Close, T (*Invalid)()> class UniqueHandle
{
public:
    UniqueHandle() : h_(Invalid()) {}
    explicit UniqueHandle(T h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }

    T get() const { return h_; }
    explicit operator bool() const { return h_ != Invalid(); }
    // For APIs that return the handle through an out-parameter.
    T* put()
    {
        reset();
        return &h_;
    }
    T release() { return std::exchange(h_, Invalid()); }
    // Closing keeps GetLastError as it was, so an error read after an owner
    // went out of scope is still the operation's own.
    void reset(T h = Invalid())
    {
        if (h_ != Invalid()) {
            const DWORD error = GetLastError();
            Close(h_);
            SetLastError(error);
        }
        h_ = h;
    }

private:
    T h_;
};

namespace winhandle_detail
{
inline HKEY nullKey()
{
    return nullptr;
}
inline HANDLE nullHandle()
{
    return nullptr;
}
inline HANDLE invalidHandle()
{
    return INVALID_HANDLE_VALUE;
}
inline HMODULE nullModule()
{
    return nullptr;
}
inline HLOCAL nullLocal()
{
    return nullptr;
}
} // namespace winhandle_detail

using UniqueHkey =
    UniqueHandle<HKEY, decltype(&::RegCloseKey), ::RegCloseKey, winhandle_detail::nullKey>;
using UniqueFind =
    UniqueHandle<HANDLE, decltype(&::FindClose), ::FindClose, winhandle_detail::invalidHandle>;
using UniqueFile =
    UniqueHandle<HANDLE, decltype(&::CloseHandle), ::CloseHandle, winhandle_detail::invalidHandle>;
using UniqueKernelHandle =
    UniqueHandle<HANDLE, decltype(&::CloseHandle), ::CloseHandle, winhandle_detail::nullHandle>;
using UniqueModule =
    UniqueHandle<HMODULE, decltype(&::FreeLibrary), ::FreeLibrary, winhandle_detail::nullModule>;
// Memory that a system call allocated for its caller (LocalFree).
using UniqueLocal =
    UniqueHandle<HLOCAL, decltype(&::LocalFree), ::LocalFree, winhandle_detail::nullLocal>;
