#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

// Sole owner of a kernel handle; closes it when it goes. Both null and
// INVALID_HANDLE_VALUE mean "no handle".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // For APIs that return a handle through a pointer.
    HANDLE* Receive()
    {
        Reset();
        return &m_handle;
    }
    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr)
    {
        if (Valid()) {
            CloseHandle(m_handle);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// Sole owner of a FindFirstFileW search; ends it when it goes.
class UniqueFindHandle {
public:
    explicit UniqueFindHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueFindHandle()
    {
        if (Valid()) {
            FindClose(m_handle);
        }
    }
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }

private:
    HANDLE m_handle;
};

// Sole owner of a loaded module; frees it when it goes.
struct ModuleFree {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// Sole owner of the environment block GetEnvironmentStringsW hands back.
struct EnvironmentStringsFree {
    void operator()(wchar_t* strings) const { FreeEnvironmentStringsW(strings); }
};
using UniqueEnvironmentStrings = std::unique_ptr<wchar_t, EnvironmentStringsFree>;

// The two handles that process creation hands back.
struct ProcessHandles {
    UniqueHandle process;
    UniqueHandle thread;

    void Adopt(const PROCESS_INFORMATION& info)
    {
        process.Reset(info.hProcess);
        thread.Reset(info.hThread);
    }
};
