#include "ChildProcess.h"

#include <initializer_list>

namespace {

constexpr size_t kMaxInherited = 3;

bool Inheritable(HANDLE handle)
{
    DWORD flags = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetHandleInformation(handle, &flags) &&
           (flags & HANDLE_FLAG_INHERIT) != 0;
}

// The attribute list for one handle-list attribute, freed when it goes.
class HandleListAttribute {
public:
    HandleListAttribute(HANDLE* handles, size_t count)
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size));
        if (!m_list) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return;
        }
        if (!InitializeProcThreadAttributeList(m_list, 1, 0, &size)) {
            Free();
            return;
        }
        m_initialized = true;
        if (!UpdateProcThreadAttribute(m_list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                       count * sizeof(HANDLE), nullptr, nullptr)) {
            Free();
        }
    }
    ~HandleListAttribute() { Free(); }
    HandleListAttribute(const HandleListAttribute&) = delete;
    HandleListAttribute& operator=(const HandleListAttribute&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return m_list; }

private:
    void Free()
    {
        const DWORD error = GetLastError();
        if (m_initialized) {
            DeleteProcThreadAttributeList(m_list);
            m_initialized = false;
        }
        if (m_list) {
            HeapFree(GetProcessHeap(), 0, m_list);
            m_list = nullptr;
        }
        SetLastError(error);
    }

    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
    bool m_initialized = false;
};

}  // namespace

bool StartChild(wchar_t* commandLine, DWORD creationFlags, const wchar_t* workDir, const STARTUPINFOW& startup,
                PROCESS_INFORMATION& info)
{
    HANDLE handles[kMaxInherited] = {};
    size_t count = 0;
    if (startup.dwFlags & STARTF_USESTDHANDLES) {
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
            bool repeated = false;
            for (size_t i = 0; i < count; ++i) {
                repeated = repeated || handles[i] == handle;
            }
            if (!repeated && Inheritable(handle)) {
                handles[count++] = handle;
            }
        }
    }
    if (count == 0) {
        STARTUPINFOW plain = startup;
        return CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr, workDir, &plain,
                              &info) != FALSE;
    }

    HandleListAttribute attribute(handles, count);
    if (!attribute.Get()) {
        return false;
    }
    STARTUPINFOEXW extended = {};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof(extended);
    extended.lpAttributeList = attribute.Get();
    return CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, creationFlags | EXTENDED_STARTUPINFO_PRESENT,
                          nullptr, workDir, &extended.StartupInfo, &info) != FALSE;
}
