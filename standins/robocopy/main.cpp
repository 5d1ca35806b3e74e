// Stand-in for ROBOCOPY (Wine's own copies nothing): copies a folder tree,
// with /E (or /S) into subfolders and /XD excluding folders by name or full
// path. Exit codes as robocopy's: 0 nothing copied, 1 files copied, 8 some
// copies failed, 16 nothing could be done.
#include "../common/Standin.h"

#include "common/UniqueHandle.h"

#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

const int kNothingCopied = 0;
const int kFilesCopied = 1;
const int kCopyFailures = 8;
const int kFatal = 16;

struct Request {
    std::wstring source;
    std::wstring destination;
    bool subfolders = false;
    std::vector<std::wstring> excluded;
};

bool EqualNoCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return path;
}

bool Excluded(const Request& request, const std::wstring& path, const std::wstring& name)
{
    for (const std::wstring& pattern : request.excluded) {
        const std::wstring trimmed = WithoutTrailingSeparator(pattern);
        if (EqualNoCase(trimmed, path) || EqualNoCase(trimmed, name)) {
            return true;
        }
    }
    return false;
}

struct Counts {
    unsigned copied = 0;
    unsigned failed = 0;
};

void CopyTree(const Request& request, const std::wstring& from, const std::wstring& to, Counts& counts)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW((from + L"\\*").c_str(), &data));
    if (!find.Valid()) {
        return;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring source = from + L"\\" + name;
        const std::wstring target = to + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (request.subfolders && !Excluded(request, source, name)) {
                CopyTree(request, source, target, counts);
            }
        } else if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
            ++counts.copied;
        } else {
            ++counts.failed;
        }
    } while (FindNextFileW(find.Get(), &data));
}

Request Parse(const std::vector<std::wstring>& args)
{
    Request request;
    bool inExclusions = false;
    std::vector<std::wstring> paths;
    for (const std::wstring& arg : args) {
        if (!arg.empty() && arg[0] == L'/') {
            std::wstring option = arg;
            for (wchar_t& c : option) {
                c = static_cast<wchar_t>(std::towupper(c));
            }
            inExclusions = option == L"/XD";
            request.subfolders = request.subfolders || option == L"/E" || option == L"/S";
        } else if (inExclusions) {
            request.excluded.push_back(arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() >= 2) {
        request.source = WithoutTrailingSeparator(paths[0]);
        request.destination = WithoutTrailingSeparator(paths[1]);
    }
    return request;
}

int Copy(const standin::Invocation& invocation)
{
    const Request request = Parse(invocation.args);
    const DWORD attributes = GetFileAttributesW(request.source.c_str());
    if (request.source.empty() || request.destination.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        standin::WriteStdout("ERROR : Invalid source or destination.\r\n");
        return kFatal;
    }
    Counts counts;
    CopyTree(request, request.source, request.destination, counts);
    if (counts.failed > 0) {
        return kCopyFailures;
    }
    return counts.copied > 0 ? kFilesCopied : kNothingCopied;
}

}  // namespace

int wmain()
{
    return standin::Main(L"robocopy", Copy);
}
