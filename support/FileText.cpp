#include "FileText.h"

#include "common/UniqueHandle.h"

namespace plainwin {
namespace {

const DWORD kChunkBytes = 65536;

bool WriteFileAs(const std::wstring& path, const std::string& bytes, DWORD creation)
{
    const UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && WriteAll(file.Get(), bytes);
}

}  // namespace

bool ReadToEnd(HANDLE file, std::string& bytes)
{
    char buffer[kChunkBytes];
    DWORD got = 0;
    BOOL read = FALSE;
    while ((read = ReadFile(file, buffer, kChunkBytes, &got, nullptr)) && got > 0) {
        bytes.append(buffer, got);
    }
    return read != FALSE;
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    bytes.clear();
    return file.Valid() && ReadToEnd(file.Get(), bytes);
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    return WriteFileAs(path, bytes, CREATE_ALWAYS);
}

bool WriteNewFile(const std::wstring& path, const std::string& bytes)
{
    return WriteFileAs(path, bytes, CREATE_NEW);
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

}  // namespace plainwin
