#include "PEMaker.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

std::wstring AnsiToWide(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    return wide.data();
}

}  // namespace

FARPROC LoadProcFromAppDir(const char* libraryName, const char* procName)
{
    // Each way out leaves its reason as the last error.
    if (!libraryName || !procName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    wchar_t path[pemaker::kPathChars] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, pemaker::kPathChars);
    if (length == 0 || length >= pemaker::kPathChars) {
        return nullptr;
    }
    wchar_t* lastSlash = std::wcsrchr(path, L'\\');
    if (!lastSlash) {
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    lastSlash[1] = L'\0';
    // A full path that does not fit is treated as a library that cannot be loaded.
    const std::wstring name = AnsiToWide(libraryName);
    if (std::wcslen(path) + name.size() >= pemaker::kPathChars) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::wcscat(path, name.c_str());

    HMODULE library = LoadLibraryW(path);
    if (!library) {
        const DWORD error = GetLastError();
        std::printf(pemaker::kLoadErrorFormat, static_cast<int>(error));
        std::fflush(stdout);
        SetLastError(error);
        return nullptr;
    }
    return GetProcAddress(library, procName);
}
