#include "PathIdentity.h"

#include "UniqueHandle.h"

#include <windows.h>

#include <vector>

namespace {

constexpr const wchar_t* kLongPrefix = L"\\\\?\\";
constexpr const wchar_t* kLongUncPrefix = L"\\\\?\\UNC\\";

bool Identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info)
{
    // No access asked and every sharing allowed: a file open elsewhere is still identified.
    const UniqueHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.Valid() && GetFileInformationByHandle(file.Get(), &info);
}

}  // namespace

bool IdentifyFile(const std::wstring& path, FileId& id)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!Identify(path, info)) {
        return false;
    }
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    return length == 0 || length >= needed ? path : std::wstring(buffer.data(), length);
}

std::wstring LongFormPath(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    if (full.compare(0, 4, kLongPrefix) == 0) {
        return full;
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return kLongUncPrefix + full.substr(2);
    }
    return kLongPrefix + full;
}

bool SameFile(const std::wstring& a, const std::wstring& b)
{
    FileId idA;
    FileId idB;
    if (IdentifyFile(a, idA) && IdentifyFile(b, idB)) {
        return idA == idB;
    }
    const std::wstring fullA = FullPath(a);
    const std::wstring fullB = FullPath(b);
    return CompareStringOrdinal(fullA.c_str(), static_cast<int>(fullA.size()), fullB.c_str(),
                                static_cast<int>(fullB.size()), TRUE) == CSTR_EQUAL;
}

bool IsAtOrInside(const std::wstring& path, const std::wstring& folder)
{
    FileId wanted;
    if (!IdentifyFile(folder, wanted)) {
        return false;
    }
    std::wstring current = FullPath(path);
    for (;;) {
        FileId id;
        if (IdentifyFile(current, id) && id == wanted) {
            return true;
        }
        while (!current.empty() && (current.back() == L'\\' || current.back() == L'/')) {
            current.pop_back();
        }
        const size_t separator = current.find_last_of(L"\\/");
        if (separator == std::wstring::npos) {
            return false;
        }
        std::wstring parent = current.substr(0, separator);
        // "C:" alone is the drive's current folder; its root is "C:\".
        if (!parent.empty() && parent.back() == L':') {
            parent += L'\\';
        }
        if (parent.empty() || parent == current) {
            return false;
        }
        current = parent;
    }
}

unsigned long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
