// The checks of a build's inputs, made before anything is changed, so that a
// build that cannot be delivered fails before the application is written
// into the image (minutes for a large one).
#include "PEMaker.h"

#include "BoundedText.h"
#include "InfPackage.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"
#include "common/PathIdentity.h"
#include "common/ProgramSearch.h"
#include "common/UniqueHandle.h"

#include <shlwapi.h>

#include <cwctype>

namespace {

DWORD Attributes(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str());
}

bool IsDriveRoot(const std::wstring& path)
{
    return path.size() == 3 && std::iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

bool StartsWithProgramSignature(const wchar_t* path)
{
    // A running program can be read: its image is shared for reading.
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char bytes[2] = {};
    DWORD read = 0;
    return file.Valid() && ReadFile(file.Get(), bytes, sizeof(bytes), &read, nullptr) && read == sizeof(bytes) &&
           bytes[0] == pemaker::kProgramSignature[0] && bytes[1] == pemaker::kProgramSignature[1];
}

// 1 to 10 decimal digits, at most the largest int.
bool IsDiskNumber(const wchar_t* text)
{
    const size_t length = text ? std::wcslen(text) : 0;
    if (length == 0 || length > pemaker::kMaxDiskDigits) {
        return false;
    }
    unsigned long long value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    return value <= pemaker::kMaxDiskNumber;
}

// Larger than any INF; such a file is not read at all.
constexpr DWORD kMaxInfBytes = 16 << 20;

bool ReadInfBytes(const std::wstring& path, std::string& bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxInfBytes) {
        return false;
    }
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

std::string InfReason(const std::wstring& infPath)
{
    std::string bytes;
    if (!ReadInfBytes(infPath, bytes)) {
        return pemaker::kReasonUnreadableInf;
    }
    const std::wstring folder = infPath.substr(0, infPath.find_last_of(L'\\'));
    return drivers::UnusableReason(
        bytes, [&folder](const std::wstring& relative) { return IsFile(folder + L"\\" + relative); });
}

// Every INF in folder and below, depth first; links to folders are not followed.
void FindInfs(const std::wstring& folder, std::vector<std::wstring>& infs)
{
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search.Valid()) {
        return;
    }
    do {
        const std::wstring name = found.cFileName;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L".." && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                FindInfs(path, infs);
            }
        } else if (PathMatchSpecW(name.c_str(), pemaker::kInfPattern)) {
            infs.push_back(path);
        }
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

std::string CPEMaker::_CheckDriverFolders(const std::vector<std::wstring>& folders)
{
    for (const std::wstring& given : folders) {
        const std::wstring folder = WithoutTrailingSeparators(given);
        if (!IsFolder(folder)) {
            return pemaker::kErrorDriverFolderNotFound + WideToAnsi(folder);
        }
        if (IsDriveRoot(folder)) {
            return pemaker::kErrorDriveRootDriverFolder + WideToAnsi(folder);
        }
        std::vector<std::wstring> infs;
        FindInfs(folder, infs);
        std::vector<std::pair<std::wstring, std::string>> skipped;
        bool usable = false;
        for (const std::wstring& inf : infs) {
            std::string reason = InfReason(inf);
            usable = usable || reason.empty();
            if (!reason.empty()) {
                skipped.emplace_back(inf, std::move(reason));
            }
        }
        if (!usable) {
            return pemaker::kErrorNoUsableDriver + WideToAnsi(folder) + ": " +
                   (skipped.empty() ? std::string(pemaker::kReasonNoInf) : skipped.front().second);
        }
        // They still travel in the folder; drvload skips them in WinPE too.
        for (const auto& inf : skipped) {
            TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogDriverSkipped, inf.first.c_str(), inf.second.c_str());
        }
    }
    return std::string();
}

std::string CPEMaker::_CheckBuildInputs(const std::vector<std::wstring>& sources, const wchar_t* startupExe,
                                        int productionType, const wchar_t* target,
                                        CreateWindowsBootDiskFn& createBootDisk)
{
    if (productionType != kMakePERestartToRamdisk && productionType != kMakePEWriteIso &&
        productionType != kMakePEWriteDisk) {
        return pemaker::kErrorProductionType;
    }
    for (const std::wstring& source : sources) {
        if (IsDriveRoot(source)) {
            return pemaker::kErrorDriveRootSource + WideToAnsi(source);
        }
    }
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);

    if (!sources.empty() && startupExe && startupExe[0] != L'\0') {
        const std::string startup = WideToAnsi(startupExe);
        const std::wstring* holder = nullptr;
        bool holderIsFolder = false;
        for (const std::wstring& source : sources) {
            const DWORD attributes = source.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(source);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                continue;
            }
            const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (folder ? IsSameOrSubPath(source, startupExe) : _wcsicmp(source.c_str(), startupExe) == 0) {
                holder = &source;
                holderIsFolder = folder;
                break;
            }
        }
        if (!holder) {
            return pemaker::kErrorStartupInNoSource + startup;
        }
        if (!IsFile(startupExe)) {
            return pemaker::kErrorStartupNotFound + startup;
        }
        if (holderIsFolder && IsSameOrSubPath(peDir, startupExe) && IsSameOrSubPath(*holder, peDir)) {
            return pemaker::kErrorStartupInPEFolder + startup;
        }
        if (!StartsWithProgramSignature(startupExe)) {
            return pemaker::kErrorStartupNotProgram + startup;
        }
    }

    wchar_t wimPath[pemaker::kPathChars];
    FormatBounded(wimPath, pemaker::kPathChars, pemaker::kWimPathFormat, peDir);
    if (PathFileExistsW(wimPath)) {
        if (productionType == kMakePEWriteIso && target) {
            if (!IsFolder(target)) {
                return pemaker::kErrorTargetNotFound + WideToAnsi(target);
            }
            // The next ISO would carry this one: in the image tree, or in
            // the application put into the image.
            if (IsAtOrInside(target, std::wstring(peDir) + pemaker::kIsoFolder)) {
                return pemaker::kErrorTargetInIsoTree + WideToAnsi(target);
            }
            for (const std::wstring& source : sources) {
                if (IsFolder(source) && IsAtOrInside(target, source)) {
                    return pemaker::kErrorTargetInSource + WideToAnsi(target);
                }
            }
        }
        if (productionType == kMakePERestartToRamdisk) {
            wchar_t sdiPath[pemaker::kPathChars];
            FormatBounded(sdiPath, pemaker::kPathChars, pemaker::kSdiPathFormat, peDir);
            if (!IsFile(sdiPath)) {
                return pemaker::kErrorNoRamdiskFile + WideToAnsi(sdiPath);
            }
        } else {
            const std::wstring isoPath = IsoPathFor(peDir, productionType == kMakePEWriteIso ? target : nullptr);
            if (IsFolder(isoPath)) {
                return pemaker::kErrorIsoPathFolder + WideToAnsi(isoPath);
            }
            if (isoPath.empty() || isoPath.size() > pemaker::kMaxIsoPathChars) {
                const std::wstring named = WithoutTrailingSeparators(target) + L"\\" + pemaker::kIsoFileName;
                return pemaker::kErrorIsoPathTooLong + WideToAnsi(isoPath.empty() ? named : isoPath);
            }
            wchar_t bootSector[pemaker::kPathChars];
            FormatBounded(bootSector, pemaker::kPathChars, pemaker::kBootSectorFormat, peDir);
            if (!IsFile(bootSector)) {
                return pemaker::kErrorNoBootSector + WideToAnsi(bootSector);
            }
            // Where the runner, started in the PE folder, finds it.
            if (FindProgram(pemaker::kIsoToolName, peDir).empty()) {
                return pemaker::kErrorNoIsoTool;
            }
            IsoTarget& iso = m_pFlow->iso.emplace(FullPath(isoPath));
            DWORD error = 0;
            switch (iso.Lock(error)) {
            case IsoTarget::Claim::Owned:
                break;
            case IsoTarget::Claim::InUse:
                return pemaker::kErrorIsoPathInUse + WideToAnsi(isoPath);
            case IsoTarget::Claim::Failed:
                return pemaker::kErrorIsoLockFailed + std::to_string(error);
            }
        }
    }

    if (productionType == kMakePEWriteDisk) {
        if (!IsDiskNumber(target)) {
            return pemaker::kErrorInvalidDisk + (target ? WideToAnsi(target) : std::string());
        }
        createBootDisk = reinterpret_cast<CreateWindowsBootDiskFn>(
            reinterpret_cast<void*>(LoadProcFromAppDir(pemaker::kBootDiskLibrary, pemaker::kBootDiskExport)));
        if (!createBootDisk) {
            return pemaker::kErrorNoBootDiskLibrary + std::to_string(GetLastError());
        }
    }
    // The images change places by renames only.
    if (!m_pFlow->image->OnOneVolume()) {
        return pemaker::kErrorOtherVolume;
    }
    return std::string();
}
