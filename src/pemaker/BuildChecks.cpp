// The checks of a build's inputs, made before anything is changed, so that a
// build that cannot be delivered fails before the application is written
// into the image (minutes for a large one).
#include "PEMaker.h"

#include "BoundedText.h"
#include "InfPackage.h"
#include "UpdateCommands.h"
#include "common/ErrorText.h"
#include "common/FolderEntries.h"
#include "common/LogFile.h"
#include "common/PathIdentity.h"
#include "common/ProgramSearch.h"
#include "common/UniqueHandle.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
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

// The INF at inf below the package folder root.
std::string InfReason(const std::wstring& root, const std::wstring& inf)
{
    std::string bytes;
    const std::wstring infPath = root + L"\\" + inf;
    if (!ReadInfBytes(infPath, bytes)) {
        return pemaker::kReasonUnreadableInf;
    }
    const std::wstring folder = infPath.substr(0, infPath.find_last_of(L'\\'));
    const auto depth = static_cast<unsigned>(std::count(inf.begin(), inf.end(), L'\\'));
    return drivers::UnusableReason(
        bytes, [&folder](const std::wstring& relative) { return IsFile(folder + L"\\" + relative); }, depth);
}

// The INFs in root and below, depth first, relative to root. False at the
// first file or folder that is a link, named in link: the WIM tool would
// store the link, not what it leads to.
bool FindInfs(const std::wstring& root, const std::wstring& below, std::vector<std::wstring>& infs,
              std::wstring& link)
{
    // below is empty or ends in a separator.
    std::wstring folder = root + L"\\" + below;
    folder.pop_back();
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& found) {
        const std::wstring relative = below + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            link = relative;
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            FindInfs(root, relative + L"\\", infs, link);
        } else if (PathMatchSpecW(found.cFileName, pemaker::kInfPattern)) {
            infs.push_back(relative);
        }
        return link.empty();
    });
    return link.empty();
}

// The folder at the end of folder's links and junctions, without the "\\?\"
// prefix where it has a drive letter or is a share; false when it cannot be opened.
bool FinalFolder(const std::wstring& folder, std::wstring& target)
{
    const UniqueHandle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD needed = handle.Valid() ? GetFinalPathNameByHandleW(handle.Get(), nullptr, 0, VOLUME_NAME_DOS) : 0;
    if (needed == 0) {
        return false;
    }
    std::wstring path(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle.Get(), &path[0], needed, VOLUME_NAME_DOS);
    if (length == 0 || length >= needed) {
        return false;
    }
    path.resize(length);
    const size_t uncLength = std::wcslen(pemaker::kLongUncPrefix);
    const size_t longLength = std::wcslen(pemaker::kLongPrefix);
    if (path.compare(0, uncLength, pemaker::kLongUncPrefix) == 0) {
        target = pemaker::kUncPrefix + path.substr(uncLength);
    } else if (path.compare(0, longLength, pemaker::kLongPrefix) == 0) {
        target = path.substr(longLength);
    } else {
        target = path;
    }
    return true;
}

bool IsPrintableAscii(const std::wstring& text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L' ' && c <= L'~'; });
}

}  // namespace

bool CPEMaker::_CheckDriverFolders(const std::vector<std::wstring>& folders)
{
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    std::string firstRefusal;
    for (size_t index = 0; index < folders.size(); ++index) {
        const std::wstring folder = WithoutTrailingSeparators(folders[index]);
        const std::string named = WideToAnsi(folder);
        std::wstring target;
        std::wstring link;
        std::vector<std::wstring> infs;
        std::string refusal;
        if (!IsFolder(folder) || !FinalFolder(folder, target)) {
            refusal = pemaker::kErrorDriverFolderNotFound + named;
        } else if (IsDriveRoot(folder) || IsDriveRoot(target)) {
            refusal = pemaker::kErrorDriveRootDriverFolder + named;
        } else if (IsAtOrInside(peDir, target) || IsAtOrInside(target, peDir)) {
            // The image being edited, its lock and the saved image would go onto the media.
            refusal = pemaker::kErrorDriverFolderHoldsPE + named;
        } else if (!FindInfs(target, std::wstring(), infs, link)) {
            refusal = pemaker::kErrorNoUsableDriver + named + ": " + pemaker::kReasonHoldsLink + WideToAnsi(link);
        } else {
            wchar_t inImage[pemaker::kPathChars];
            FormatBounded(inImage, pemaker::kPathChars, pemaker::kDriverInfFolderFormat,
                          static_cast<unsigned>(index + 1));
            std::vector<std::string> accepted;
            std::string firstReason;
            for (const std::wstring& inf : infs) {
                std::string reason = InfReason(target, inf);
                if (reason.empty() && !IsPrintableAscii(inf)) {
                    reason = pemaker::kReasonNotAsciiPath;
                }
                if (reason.empty()) {
                    accepted.push_back(WideToAnsi(inImage + inf));
                    continue;
                }
                if (firstReason.empty()) {
                    firstReason = reason;
                }
                // They still travel in the folder; load.cmd leaves them out.
                TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogDriverSkipped, (folder + L"\\" + inf).c_str(),
                       reason.c_str());
            }
            if (accepted.empty()) {
                refusal = pemaker::kErrorNoUsableDriver + named + ": " +
                          (firstReason.empty() ? std::string(pemaker::kReasonNoInf) : firstReason);
            } else {
                m_pFlow->driverFolders.push_back(target);
                m_pFlow->driverInfs.insert(m_pFlow->driverInfs.end(), accepted.begin(), accepted.end());
            }
        }
        if (!refusal.empty()) {
            TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogFormat, refusal.c_str());
            if (firstRefusal.empty()) {
                firstRefusal = refusal;
            }
        }
    }
    if (firstRefusal.empty()) {
        return true;
    }
    _ReportProgress(0, 0, firstRefusal.c_str());
    return false;
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
                return pemaker::kErrorIsoLockFailed + ErrorTextAnsi(error);
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
            return pemaker::kErrorNoBootDiskLibrary + ErrorTextAnsi(GetLastError());
        }
    }
    // The images change places by renames only.
    if (!m_pFlow->image->OnOneVolume()) {
        return pemaker::kErrorOtherVolume;
    }
    return std::string();
}
