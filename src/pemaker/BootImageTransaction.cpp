#include "BootImageTransaction.h"

#include "PEMakerConstants.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <cwchar>

namespace {

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
// "<volume>:<index> <image bytes> <last write> <bytes at the last rewrite>
// <digest of the build's inputs>" in ASCII. The image's size and time too: a
// file system may give a new file the number of one deleted before.
constexpr const char* kRecordWriteFormat = "%lu:%llu %llu %llu %llu %s\r\n";
constexpr const char* kRecordReadFormat = "%lu:%llu %llu %llu %llu %64s";
constexpr int kRecordFields = 6;
constexpr size_t kDigestChars = 64;
// "new=<volume>:<index> <bytes> <last write> previous=<volume>:<index>" in
// ASCII: the new image's size and time too, since a file system may give a
// file the number of one deleted before (Wine gives the inode's, FAT one by
// the directory entry's place).
constexpr const char* kStateFormat = "new=%lu:%llu %llu %llu previous=%lu:%llu\r\n";
constexpr int kStateFields = 6;
constexpr DWORD kStateBytes = 192;

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SucceededOrGone(BOOL done, DWORD& error)
{
    if (done) {
        return true;
    }
    error = GetLastError();
    // Nothing there, not even the PE folder: nothing to settle.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CopyFlushed(const std::wstring& from, const std::wstring& to, DWORD& error)
{
    if (CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        UniqueHandle file(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        if (file.Valid() && FlushFileBuffers(file.Get())) {
            return true;
        }
    }
    error = GetLastError();
    DeleteFileW(to.c_str());
    return false;
}

// A record of a few ASCII fields, flushed so that it outlives a crash.
bool WriteRecord(const std::wstring& path, const char* text, DWORD& error)
{
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    DWORD written = 0;
    if (file.Valid() && WriteFile(file.Get(), text, length, &written, nullptr) && written == length &&
        FlushFileBuffers(file.Get())) {
        return true;
    }
    error = GetLastError();
    return false;
}

// The record at path, cut to kStateBytes; empty when there is none.
std::string ReadRecord(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    char text[kStateBytes] = {};
    DWORD read = 0;
    return file.Valid() && ReadFile(file.Get(), text, sizeof(text) - 1, &read, nullptr) ? std::string(text)
                                                                                          : std::string();
}

// 100-ns units; 0 when the file cannot be read.
unsigned long long LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

bool WriteState(const std::wstring& path, const std::wstring& next, const FileId& nextId, const FileId& previous,
                DWORD& error)
{
    char text[kStateBytes] = {};
    std::snprintf(text, sizeof(text), kStateFormat, nextId.volume, nextId.index, FileSize(next), LastWriteTime(next),
                  previous.volume, previous.index);
    return WriteRecord(path, text, error);
}

// Whether image is the new image that the state file at path records.
bool IsRecordedNewImage(const std::wstring& path, const std::wstring& image)
{
    FileId recorded;
    FileId previous;
    FileId current;
    unsigned long long bytes = 0;
    unsigned long long written = 0;
    return std::sscanf(ReadRecord(path).c_str(), kStateFormat, &recorded.volume, &recorded.index, &bytes, &written,
                       &previous.volume, &previous.index) == kStateFields &&
           IdentifyFile(image, current) && current == recorded && FileSize(image) == bytes &&
           LastWriteTime(image) == written;
}

bool VolumeOf(const std::wstring& folder, DWORD& serial)
{
    UniqueHandle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle.Valid() || !GetFileInformationByHandle(handle.Get(), &info)) {
        return false;
    }
    serial = info.dwVolumeSerialNumber;
    return true;
}

// Files of folder whose names begin with prefix (the WIM tool's own
// temporary files take the image's name and a suffix).
void DeleteBeginningWith(const std::wstring& folder, const std::wstring& prefix)
{
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle search(FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &found));
    if (!search.Valid()) {
        return;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        }
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

BootImageTransaction::BootImageTransaction(const wchar_t* peDir)
    : m_peDir(peDir),
      m_sourcesDir(m_peDir + pemaker::kSourcesFolder),
      m_wim(m_sourcesDir + L"\\" + pemaker::kWimFileName),
      m_work(m_peDir + L"\\" + pemaker::kWimWorkName),
      m_previous(m_peDir + L"\\" + pemaker::kWimPreviousName),
      m_state(m_peDir + L"\\" + pemaker::kSwapStateName),
      m_rewriteRecord(m_peDir + L"\\" + pemaker::kRewriteRecordName)
{
}

BootImageTransaction::~BootImageTransaction()
{
    DWORD ignored = 0;
    Undo(ignored);
}

bool BootImageTransaction::SettleInterrupted(Leftover& found, DWORD& error)
{
    found = Leftover::None;
    if (Exists(m_previous)) {
        // No image at all: the old one is the only one there is.
        if (!Exists(m_wim) || IsRecordedNewImage(m_state, m_wim)) {
            if (!PutPreviousBack(error)) {
                return false;
            }
            found = Leftover::Restored;
        } else {
            if (!SucceededOrGone(DeleteFileW(m_previous.c_str()), error)) {
                return false;
            }
            found = Leftover::Discarded;
        }
    }
    if (!SucceededOrGone(DeleteFileW(m_state.c_str()), error)) {
        return false;
    }
    DeleteWorkCopies();
    DeleteBeginningWith(m_peDir, pemaker::kOldWimBackupName);
    return true;
}

bool BootImageTransaction::OnOneVolume() const
{
    DWORD peVolume = 0;
    DWORD sourcesVolume = 0;
    if (!VolumeOf(m_peDir, peVolume) || !VolumeOf(m_sourcesDir, sourcesVolume)) {
        return true;
    }
    return peVolume == sourcesVolume;
}

bool BootImageTransaction::Begin(DWORD& error)
{
    DeleteWorkCopies();
    if (!CopyFlushed(m_wim, m_work, error)) {
        return false;
    }
    m_begun = true;
    return true;
}

bool BootImageTransaction::Swap(DWORD& error)
{
    FileId next;
    FileId previous;
    if (!IdentifyFile(m_work, next) || !IdentifyFile(m_wim, previous)) {
        error = GetLastError();
        return false;
    }
    // Recorded before either rename: whatever moment a crash hits, the next
    // call finds the state that tells the two images apart.
    if (!WriteState(m_state, m_work, next, previous, error)) {
        DeleteFileW(m_state.c_str());
        return false;
    }
    if (!MoveFileExW(m_wim.c_str(), m_previous.c_str(), kReplace)) {
        error = GetLastError();
        DeleteFileW(m_state.c_str());
        return false;
    }
    m_swapped = true;
    if (!MoveFileExW(m_work.c_str(), m_wim.c_str(), kReplace)) {
        error = GetLastError();
        return false;
    }
    return true;
}

bool BootImageTransaction::Replace(DWORD& error)
{
    if (!MoveFileExW(m_work.c_str(), m_wim.c_str(), kReplace)) {
        error = GetLastError();
        return false;
    }
    m_begun = false;
    return true;
}

void BootImageTransaction::Commit()
{
    if (m_swapped) {
        DeleteFileW(m_previous.c_str());
        DeleteFileW(m_state.c_str());
    }
    m_swapped = false;
    m_begun = false;
    DeleteWorkCopies();
}

bool BootImageTransaction::Undo(DWORD& error)
{
    if (m_swapped) {
        // The new image is the work copy again (one rename on the volume),
        // which goes with the other work copies below.
        if (Exists(m_wim) && !MoveFileExW(m_wim.c_str(), m_work.c_str(), kReplace)) {
            error = GetLastError();
            return false;
        }
        if (!PutPreviousBack(error)) {
            return false;
        }
        DeleteFileW(m_state.c_str());
        m_swapped = false;
    }
    if (m_begun) {
        DeleteWorkCopies();
        m_begun = false;
    }
    return true;
}

bool BootImageTransaction::PutPreviousBack(DWORD& error)
{
    if (!MoveFileExW(m_previous.c_str(), m_wim.c_str(), kReplace)) {
        error = GetLastError();
        return false;
    }
    return true;
}

void BootImageTransaction::DeleteWorkCopies() const
{
    DeleteBeginningWith(m_peDir, pemaker::kWimWorkName);
}

bool BootImageTransaction::ReadImageRecord(unsigned long long& rewriteSize, std::string& digest) const
{
    FileId recorded;
    FileId current;
    unsigned long long imageBytes = 0;
    unsigned long long written = 0;
    char text[kDigestChars + 1] = {};
    if (std::sscanf(ReadRecord(m_rewriteRecord).c_str(), kRecordReadFormat, &recorded.volume, &recorded.index,
                    &imageBytes, &written, &rewriteSize, text) != kRecordFields) {
        return false;
    }
    digest = text;
    return IdentifyFile(m_wim, current) && current == recorded && imageBytes == FileSize(m_wim) &&
           written == LastWriteTime(m_wim);
}

bool BootImageTransaction::SizeAtLastRewrite(unsigned long long& size) const
{
    std::string digest;
    return ReadImageRecord(size, digest);
}

bool BootImageTransaction::HoldsBuild(const std::string& inputs) const
{
    unsigned long long size = 0;
    std::string digest;
    return !inputs.empty() && ReadImageRecord(size, digest) && digest == inputs;
}

unsigned long long BootImageTransaction::WorkSize() const
{
    return FileSize(m_work);
}

void BootImageTransaction::RecordBuild(unsigned long long size, const std::string& inputs) const
{
    FileId work;
    if (!IdentifyFile(m_work, work) || inputs.size() > kDigestChars) {
        return;
    }
    char text[kStateBytes] = {};
    std::snprintf(text, sizeof(text), kRecordWriteFormat, work.volume, work.index, FileSize(m_work),
                  LastWriteTime(m_work), size, inputs.empty() ? "-" : inputs.c_str());
    // Without the record the next build only starts counting anew.
    DWORD ignored = 0;
    WriteRecord(m_rewriteRecord, text, ignored);
}
