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
    if (!libraryName || !procName) {
        return nullptr;
    }
    wchar_t path[pemaker::kPathChars] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, pemaker::kPathChars);
    if (length == 0 || length >= pemaker::kPathChars) {
        return nullptr;
    }
    wchar_t* lastSlash = std::wcsrchr(path, L'\\');
    if (!lastSlash) {
        return nullptr;
    }
    lastSlash[1] = L'\0';
    // A full path that does not fit is treated as a library that cannot be loaded.
    const std::wstring name = AnsiToWide(libraryName);
    if (std::wcslen(path) + name.size() >= pemaker::kPathChars) {
        return nullptr;
    }
    std::wcscat(path, name.c_str());

    HMODULE library = LoadLibraryW(path);
    if (!library) {
        std::printf(pemaker::kLoadErrorFormat, static_cast<int>(GetLastError()));
        std::fflush(stdout);
        return nullptr;
    }
    return GetProcAddress(library, procName);
}
