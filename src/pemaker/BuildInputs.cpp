#include "BuildInputs.h"

#include "UpdateCommands.h"
#include "common/FolderEntries.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr ULONG kSha256Bytes = 32;
// The start-up file and load.cmd are a few KiB.
constexpr LONGLONG kMaxContentBytes = 1 << 20;

struct AlgorithmHandle {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~AlgorithmHandle()
    {
        if (handle) {
            BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
};

struct HashHandle {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~HashHandle()
    {
        if (handle) {
            BCryptDestroyHash(handle);
        }
    }
};

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

void BuildInputs::Text(const std::wstring& text)
{
    Bytes(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

void BuildInputs::Bytes(const std::string& bytes)
{
    if (!m_taken) {
        return;
    }
    // Length first, so that no two sequences of pieces run together alike.
    m_text += std::to_string(bytes.size()) + ':';
    m_text += bytes;
}

void BuildInputs::Content(const std::wstring& path)
{
    if (!m_taken) {
        return;
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxContentBytes) {
        Text(L"unreadable " + path);
        return;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        Text(L"unreadable " + path);
        return;
    }
    Bytes(bytes);
}

void BuildInputs::Tree(const std::wstring& path, const std::wstring& excluded)
{
    if (!m_taken) {
        return;
    }
    // Attributes rather than a search: a search finds no drive root.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        Text(L"missing " + path);
        return;
    }
    WIN32_FIND_DATAW found = {};
    found.dwFileAttributes = data.dwFileAttributes;
    found.ftCreationTime = data.ftCreationTime;
    found.ftLastWriteTime = data.ftLastWriteTime;
    found.nFileSizeHigh = data.nFileSizeHigh;
    found.nFileSizeLow = data.nFileSizeLow;
    Text(L"root " + path);
    Entry(L"", &found);
    // The root is walked even as a link: what lies below it counts either way.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder inside the excluded one is walked whole.
        Folder(path, L"", !excluded.empty() && IsSameOrSubPath(excluded, path) ? std::wstring() : excluded);
    }
}

void BuildInputs::Folder(const std::wstring& root, const std::wstring& relative, const std::wstring& excluded)
{
    // The file system's order: on one volume it does not change without the folder changing.
    const bool listed = ForEachEntry(root + relative, [&](const WIN32_FIND_DATAW& found) {
        const std::wstring below = relative + L"\\" + found.cFileName;
        const std::wstring path = root + below;
        // The excluded folder's own entry too: its time changes with what it holds.
        if ((!m_ownLog.empty() && _wcsicmp(path.c_str(), m_ownLog.c_str()) == 0) ||
            (!excluded.empty() && IsSameOrSubPath(excluded, path))) {
            return true;
        }
        Entry(below, &found);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            Folder(root, below, excluded);
        }
        return true;
    });
    if (!listed) {
        Text(L"unreadable " + relative);
    }
}

void BuildInputs::Entry(const std::wstring& relative, const void* findData)
{
    const WIN32_FIND_DATAW& found = *static_cast<const WIN32_FIND_DATAW*>(findData);
    wchar_t fields[160] = {};
    // The reparse tag only means something for a reparse point. A folder's
    // times say only that its listing changed, which the entries below show,
    // or that the PE folder or the log came (Wine gives a folder the time of
    // its last change as its creation time): they are passed over.
    const DWORD tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const FILETIME created = folder ? FILETIME{} : found.ftCreationTime;
    const FILETIME written = folder ? FILETIME{} : found.ftLastWriteTime;
    swprintf(fields, sizeof(fields) / sizeof(fields[0]), L" %lx %lx %lu:%lu %lu:%lu %lu:%lu", found.dwFileAttributes,
             tag, found.nFileSizeHigh, found.nFileSizeLow, created.dwHighDateTime, created.dwLowDateTime,
             written.dwHighDateTime, written.dwLowDateTime);
    Text(relative + fields);
}

std::string BuildInputs::Digest() const
{
    AlgorithmHandle algorithm;
    HashHandle hash;
    unsigned char digest[kSha256Bytes] = {};
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Succeeded(BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)) ||
        !Succeeded(BCryptHashData(hash.handle,
                                  reinterpret_cast<PUCHAR>(const_cast<char*>(m_text.data())),
                                  static_cast<ULONG>(m_text.size()), 0)) ||
        !Succeeded(BCryptFinishHash(hash.handle, digest, sizeof(digest), 0))) {
        return std::string();
    }
    std::string hex;
    char pair[3] = {};
    for (const unsigned char byte : digest) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        hex += pair;
    }
    return hex;
}
