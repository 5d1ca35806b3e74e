#include "Preflight.h"

#include "ProgramFolder.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace host {
namespace {

const wchar_t kWorkFolderName[] = L"Tarnwick";
const wchar_t kIsoName[] = L"boot.iso";
// The longest ISO path the library takes: room for ".partial" in its
// 260-character buffers.
constexpr size_t kLongestIsoPath = 250;

// Without a trailing separator, the form in which the library uses a SOURCE.
std::wstring AbsolutePath(const std::wstring& path)
{
    std::wstring absolute = FullPath(path);
    while (absolute.size() > 3 && absolute.back() == L'\\') {
        absolute.pop_back();
    }
    return absolute;
}

// Relative to the current folder: neither rooted (\x, \\server) nor on a drive (C:).
bool IsRelative(const std::wstring& path)
{
    return !path.empty() && path[0] != L'\\' && path[0] != L'/' && (path.size() < 2 || path[1] != L':');
}

// A relative start-up program names a file of the application: the first
// (absolute) SOURCE folder that holds it, else the current folder.
std::wstring StartupPath(const std::wstring& startup, const std::vector<std::wstring>& sources)
{
    if (IsRelative(startup)) {
        for (const std::wstring& source : sources) {
            const std::wstring candidate = source + L"\\" + startup;
            if (IsFolder(source) && IsFile(candidate)) {
                return AbsolutePath(candidate);
            }
        }
    }
    return AbsolutePath(startup);
}

bool SamePathText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool SourceHolds(const std::wstring& source, DWORD attributes, const std::wstring& program)
{
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return SamePathText(source, program);
    }
    const std::wstring folder = source.back() == L'\\' ? source : source + L'\\';
    return program.size() > folder.size() && SamePathText(program.substr(0, folder.size()), folder);
}

std::wstring WithError(const std::wstring& text, DWORD error)
{
    return text + L" (error " + std::to_wstring(error) + L")";
}

// An ISO 9660 image names its primary volume descriptor "CD001" at byte 32769.
bool IsIsoImage(const std::wstring& file)
{
    const UniqueHandle image(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER offset;
    offset.QuadPart = 32769;
    char magic[5] = {};
    DWORD read = 0;
    return image.Valid() && SetFilePointerEx(image.Get(), offset, nullptr, FILE_BEGIN) &&
           ReadFile(image.Get(), magic, sizeof(magic), &read, nullptr) && read == sizeof(magic) &&
           std::string(magic, sizeof(magic)) == "CD001";
}

// An ISO path that is a folder fails only after the whole build; a file
// that is no ISO is most likely not meant to be replaced.
std::wstring CheckIsoPath(const std::wstring& iso, bool force)
{
    if (IsFolder(iso)) {
        return L"ISO path is a folder: " + iso;
    }
    if (!force && GetFileAttributesW(iso.c_str()) != INVALID_FILE_ATTRIBUTES && !IsIsoImage(iso)) {
        return iso + L" exists and is not an ISO image; add --force to replace it";
    }
    return std::wstring();
}

// Whether the ISO tool could write the file. A file made here goes again when
// closed; an existing one is opened for writing and left as it was.
std::wstring CheckWritable(const std::wstring& file)
{
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    UniqueHandle probe(
        CreateFileW(file.c_str(), GENERIC_WRITE, sharing, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!probe.Valid() && GetLastError() == ERROR_FILE_EXISTS) {
        probe.Reset(CreateFileW(file.c_str(), GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    return probe.Valid() ? std::wstring() : WithError(L"cannot be written", GetLastError());
}

std::wstring CheckIsoFolder(const std::wstring& folder, bool force)
{
    const std::wstring iso = IsoPathIn(folder);
    if (iso.size() > kLongestIsoPath) {
        return L"--target folder " + folder + L": " + iso + L" would be longer than " +
               std::to_wstring(kLongestIsoPath) + L" characters";
    }
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return L"--target folder " + folder + L" does not exist";
    }
    if (!IsFolder(folder)) {
        return L"--target " + folder + L" is not a folder";
    }
    std::wstring problem = CheckIsoPath(iso, force);
    if (!problem.empty()) {
        return problem;
    }
    problem = CheckWritable(iso);
    return problem.empty() ? problem : L"--target folder " + folder + L": " + iso + L" " + problem;
}

}  // namespace

void MakePathsAbsolute(Options& options)
{
    switch (options.command) {
    case Command::MakePe:
        for (std::wstring& source : options.sources) {
            source = AbsolutePath(source);
        }
        options.startup = StartupPath(options.startup, options.sources);
        for (std::wstring& folder : options.drivers) {
            folder = AbsolutePath(folder);
        }
        if (options.deliver == L"iso") {
            options.target = AbsolutePath(options.target);
        }
        break;
    case Command::EsdToIso:
        options.esd = AbsolutePath(options.esd);
        options.iso = AbsolutePath(options.iso);
        break;
    case Command::ExtractWinre:
        options.winreTarget = AbsolutePath(options.winreTarget);
        break;
    default:
        break;
    }
}

std::wstring CheckMakePeInputs(const Options& options)
{
    std::vector<DWORD> kinds;
    for (const std::wstring& source : options.sources) {
        const DWORD attributes = GetFileAttributesW(source.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return L"SOURCE not found: " + source;
        }
        kinds.push_back(attributes);
    }
    const DWORD startup = GetFileAttributesW(options.startup.c_str());
    if (startup == INVALID_FILE_ATTRIBUTES || (startup & FILE_ATTRIBUTE_DIRECTORY)) {
        return L"--startup program not found: " + options.startup;
    }
    for (size_t i = 0; i < options.sources.size(); ++i) {
        if (SourceHolds(options.sources[i], kinds[i], options.startup)) {
            return std::wstring();
        }
    }
    return L"--startup program " + options.startup + L" is not inside any SOURCE";
}

std::wstring IsoPathIn(const std::wstring& folder)
{
    return folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") + kIsoName;
}

std::wstring IsoToReplace(const Options& options)
{
    if (options.command == Command::MakePe && options.deliver == L"iso") {
        return IsoPathIn(options.target);
    }
    return options.command == Command::EsdToIso ? options.iso : std::wstring();
}

std::wstring CheckOutputs(const Options& options)
{
    if (options.command == Command::MakePe && options.deliver == L"iso") {
        // The next build's media would carry this ISO.
        if (!IsFolder(options.target)) {
            return CheckIsoFolder(options.target, options.force);
        }
        if (IsAtOrInside(options.target, plainwin::ProgramFolder() + L"PE\\ISO")) {
            return L"--target folder " + options.target + L" is inside the ISO tree of the PE folder";
        }
        for (const std::wstring& source : options.sources) {
            if (IsFolder(source) && IsAtOrInside(options.target, source)) {
                return L"--target folder " + options.target + L" is inside SOURCE " + source;
            }
        }
        return CheckIsoFolder(options.target, options.force);
    }
    if (options.command != Command::EsdToIso) {
        return std::wstring();
    }
    // The conversion replaces the file at the ISO path.
    if (SameFile(options.esd, options.iso)) {
        return L"ISO " + options.iso + L" is the ESD file";
    }
    const std::wstring folder = options.iso.substr(0, options.iso.find_last_of(L'\\') + 1);
    if (!IsFolder(folder)) {
        return L"folder of ISO " + options.iso + L" does not exist: " + folder;
    }
    return CheckIsoPath(options.iso, options.force);
}

std::wstring WorkFolder()
{
    wchar_t local[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : AbsolutePath(local) + L"\\" + kWorkFolderName;
}

// The command interpreter looks for the tools the library runs in the current
// folder before the search path, so the library must never work in a folder
// that an untrusted account can put a program into. Nor in the installation's:
// the log goes into the current folder.
std::wstring EnterWorkFolder()
{
    const std::wstring folder = WorkFolder();
    if (folder.empty()) {
        return L"LOCALAPPDATA does not name a folder";
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            return WithError(L"cannot create " + folder, error);
        }
    }
    if (!SetCurrentDirectoryW(folder.c_str())) {
        const DWORD error = GetLastError();
        return WithError(L"cannot work in " + folder, error);
    }
    return std::wstring();
}

}  // namespace host
