#include "ChildProcess.h"

#include "UniqueHandle.h"

#include <cwchar>
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
                PROCESS_INFORMATION& info, wchar_t* environment, const wchar_t* program)
{
    if (environment) {
        creationFlags |= CREATE_UNICODE_ENVIRONMENT;
    }
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
        return CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, creationFlags, environment, workDir,
                              &plain, &info) != FALSE;
    }

    HandleListAttribute attribute(handles, count);
    if (!attribute.Get()) {
        return false;
    }
    STARTUPINFOEXW extended = {};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof(extended);
    extended.lpAttributeList = attribute.Get();
    return CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, creationFlags | EXTENDED_STARTUPINFO_PRESENT,
                          environment, workDir, &extended.StartupInfo, &info) != FALSE;
}

std::wstring EnvironmentWith(const wchar_t* name, const wchar_t* value)
{
    const std::wstring added = std::wstring(name) + L"=" + value;
    UniqueEnvironmentStrings current(GetEnvironmentStringsW());
    if (!current) {
        return std::wstring();
    }
    std::wstring block;
    bool placed = false;
    // Kept in the order of names, case ignored, as the system expects; an
    // entry of that name is replaced.
    for (const wchar_t* entry = current.get(); *entry; entry += std::wcslen(entry) + 1) {
        // "=C:=C:\folder" entries keep the current folder of each drive: their name begins with '='.
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        const int nameLength = static_cast<int>(equals ? equals - entry : std::wcslen(entry));
        const int order = CompareStringOrdinal(entry, nameLength, name, -1, TRUE);
        if (order == CSTR_EQUAL) {
            continue;
        }
        if (!placed && order == CSTR_GREATER_THAN) {
            block.append(added).push_back(L'\0');
            placed = true;
        }
        block.append(entry).push_back(L'\0');
    }
    if (!placed) {
        block.append(added).push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}
