// The copy loop and clean-up of ExtractWinreFromRecoveryPartition against a
// scripted file-system object put in place of ravenfs.dll's factory.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"
#include "TarnwickVolumeFs.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <cstring>
#include <filesystem>
#include <vector>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();

constexpr uint32_t kPiece = 2097152;

// Every 8-byte word of the image holds a mix of its own index, so that bytes served or written at the wrong offset,
// even 4 GiB away, show. Pieces start at a multiple of 8.
void FillPattern(char* out, uint64_t at, size_t count)
{
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t word = ((at + i) / 8 + 1) * 0x9E3779B97F4A7C15ull;
        std::memcpy(out + i, &word, std::min<size_t>(8, count - i));
    }
}

enum class Open { Standard, OnlyBySearch, Never, Nowhere };

struct Script {
    uint64_t size = 0;
    uint64_t delivered = 0;    // bytes the file really holds; 0: size
    unsigned failingRead = 0;  // 1-based read call that fails, 0 for none
    Open open = Open::Standard;
    bool sizeFails = false;
};

Script g_script;
std::wstring g_target;
std::vector<uint32_t> g_requests;
std::vector<std::string> g_events;
const void* g_copyBuffer = nullptr;
std::vector<uint64_t> g_misplaced;  // target offsets of writes that did not carry the image's bytes there

// True when the target file is still held open by the extraction.
bool TargetHeld()
{
    const UniqueHandle file(CreateFileW(g_target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return !file.Valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

class ScriptedFs final : public IVolumeFsDevice {
public:
    void* DeletingDestructor(unsigned int flags) override
    {
        g_events.push_back(std::string(TargetHeld() ? "destroyed, target open" : "destroyed") +
                           (flags == kVolumeObjectFree ? "" : ", not freed"));
        delete this;
        return nullptr;
    }
    BOOL ReadLabel(wchar_t*, uint32_t) override { return FALSE; }
    uint32_t ClusterBytes() override { return 4096; }
    uint64_t ClusterCount() override { return 0; }
    // One folder, /Sources, holding one file, unless there is nothing at all.
    uint64_t FindFirstFile(const wchar_t* pattern, FsFindData* data) override
    {
        const std::wstring text = pattern;
        if ((text != L"/*" && text != L"/Sources/*") || g_script.open == Open::Nowhere) {
            return ~0ull;
        }
        data->attributes = text == L"/*" ? 0x10 : 0x20;
        wcscpy(data->name, text == L"/*" ? L"Sources" : L"WinRe.wim");
        return 7;
    }
    BOOL FindNextFile(uint64_t, FsFindData*) override { return FALSE; }
    void FindClose(uint64_t) override {}
    uint64_t OpenFile(const wchar_t* path, uint32_t access, uint32_t share, uint32_t options) override
    {
        g_events.push_back("open " + standin::ToUtf8(path) + " " + std::to_string(access) + " " +
                           std::to_string(share) + " " + std::to_string(options));
        if (g_script.open == Open::Never || g_script.open == Open::Nowhere ||
            (g_script.open == Open::OnlyBySearch && std::wstring(path) != L"/Sources/WinRe.wim")) {
            return 0;
        }
        return 42;
    }
    uint32_t QueryAttributes(const wchar_t*) override { return 0; }
    BOOL ReadFile(uint64_t handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) override
    {
        g_requests.push_back(bytesToRead);
        if (handle != 42 || g_requests.size() == g_script.failingRead) {
            return FALSE;
        }
        const uint64_t count = std::min<uint64_t>(bytesToRead, g_script.delivered - m_position);
        FillPattern(static_cast<char*>(buffer), m_position, static_cast<size_t>(count));
        g_copyBuffer = buffer;
        m_position += count;
        *bytesRead = static_cast<uint32_t>(count);
        return TRUE;
    }
    BOOL WriteFile(uint64_t, const void*, uint32_t, uint32_t*) override { return FALSE; }
    BOOL SeekFile(uint64_t, uint64_t) override { return FALSE; }
    uint64_t TellFile(uint64_t) override { return m_position; }
    BOOL GetFileSize(uint64_t, uint32_t* low, uint32_t* high) override
    {
        *low = static_cast<uint32_t>(g_script.size);
        *high = static_cast<uint32_t>(g_script.size >> 32);
        return g_script.sizeFails ? FALSE : TRUE;
    }
    void CloseFile(uint64_t handle) override
    {
        g_events.push_back(std::string("close ") + std::to_string(handle) + (TargetHeld() ? ", target open" : ""));
    }

private:
    uint64_t m_position = 0;
};

IVolumeFsDevice* ScriptedCreate(IStorageDevice* device)
{
    g_events.push_back(device && device->GetSectorSize() == 512 ? "create" : "create without device");
    return new ScriptedFs();
}

// The library's writes from the copy buffer: their bytes are checked against the image at the target offset where
// they land, and only the last one is written, into a sparse file, so that a 4 GiB image costs no disk space.
BOOL WINAPI SparseWriteFile(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (bytes != g_copyBuffer || count == 0 || overlapped) {
        return WriteFile(file, bytes, count, written, overlapped);
    }
    LARGE_INTEGER at = {};
    SetFilePointerEx(file, at, &at, FILE_CURRENT);
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    static std::vector<char> expected;
    expected.resize(count);
    FillPattern(expected.data(), static_cast<uint64_t>(at.QuadPart), count);
    if (std::memcmp(bytes, expected.data(), count) != 0) {
        g_misplaced.push_back(static_cast<uint64_t>(at.QuadPart));
    }
    at.QuadPart = count - 1;
    if (!SetFilePointerEx(file, at, nullptr, FILE_CURRENT) ||
        !WriteFile(file, static_cast<const char*>(bytes) + count - 1, 1, written, nullptr)) {
        return FALSE;
    }
    *written = count;
    return TRUE;
}

class WinreCopyTest : public winrehost::ExtractionSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(PrepareSuite(L"twcopy"));
        ASSERT_TRUE(PatchImport(Library(), "ravenfs.dll", "CreateVolumeFsDevice",
                                reinterpret_cast<void*>(&ScriptedCreate)));
        ASSERT_TRUE(PatchImport(Library(), "kernel32.dll", "WriteFile", reinterpret_cast<void*>(&SparseWriteFile)));
        const std::string image = UnixPath(scratch->path()) + "/disk.img";
        Shell("head -c 1048576 /dev/zero > '" + image + "'");
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, image));
    }
};

TEST_F(WinreCopyTest, CopiesInWholeBufferReadsAndCleansUpOnEveryPath)
{
    const std::string found = "ExtractWinreFromRecoveryPartition: find winre.wim path: /Sources/WinRe.wim\n";
    const std::string noMatch = "ExtractWinreFromRecoveryPartition: read size not match\n";
    const std::string standardOpen = "open /Recovery/WindowsRE/winre.wim 128 3 9";
    const std::vector<std::string> clean = {"create", standardOpen, "close 42, target open", "destroyed"};
    const std::vector<std::string> closed = {"create", standardOpen, "close 42", "destroyed"};
    const uint64_t k4GiB = 1ull << 32;
    const struct {
        const char* name;
        Script script;
        bool copied;
        std::string messages;  // after the partition's line
        std::vector<uint32_t> requests;
        long long targetBytes;  // -1: no target file
        std::vector<std::string> events;
    } rows[] = {
        {"whole pieces need no further read", {2 * kPiece}, true, "", {kPiece, kPiece}, 2 * kPiece, clean},
        // The size's high half counts; the total and the target pass 4 GiB, and the last piece is a partial one.
        {"an image of 4 GiB and more", {k4GiB + 5}, true, "", std::vector<uint32_t>(2049, kPiece),
         static_cast<long long>(k4GiB + 5), clean},
        {"a failed read keeps what was written", {5 << 20, 0, 2}, false,
         "ExtractWinreFromRecoveryPartition: read file error\n" + noMatch, {kPiece, kPiece}, kPiece, clean},
        {"a file that ends early", {5 << 20, kPiece + 10}, false, noMatch, {kPiece, kPiece, kPiece}, kPiece + 10, clean},
        {"a file that delivers too much", {1000, 3000}, false, noMatch, {kPiece}, 3000, clean},
        {"found by the search", {777, 0, 0, Open::OnlyBySearch}, true, found, {kPiece}, 777,
         {"create", standardOpen, "open /Sources/WinRe.wim 128 3 9", "close 42, target open", "destroyed"}},
        {"no target before the size", {100, 0, 0, Open::Standard, true}, false,
         "ExtractWinreFromRecoveryPartition: not get file size\n", {}, -1, closed},
        {"no target for size 0", {0}, false, "ExtractWinreFromRecoveryPartition: file size is 0\n", {}, -1, closed},
        {"no target without an image", {100, 0, 0, Open::Nowhere}, false,
         "SearchWinre: SearchWinre: FindFirstFile failed in directory /\n"
         "ExtractWinreFromRecoveryPartition: not find winre.wim\n", {}, -1, {"create", standardOpen, "destroyed"}},
        {"no target before the open", {100, 0, 0, Open::Never}, false,
         found + "ExtractWinreFromRecoveryPartition: not open winre.wim\n", {}, -1,
         {"create", standardOpen, "open /Sources/WinRe.wim 128 3 9", "destroyed"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        g_script = row.script;
        g_script.delivered = row.script.delivered ? row.script.delivered : row.script.size;
        g_target = *scratch / L"out.wim";
        DeleteFileW(g_target.c_str());
        g_requests.clear();
        g_events.clear();
        g_misplaced.clear();
        LogWatch log;
        EXPECT_EQ(LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(
                      g_target.c_str()),
                  row.copied);
        EXPECT_EQ(winrehost::LoggedMessages(log.Added()), winrehost::kPathLine + row.messages);
        EXPECT_EQ(g_requests, row.requests);
        std::error_code missing;
        const auto size = static_cast<long long>(std::filesystem::file_size(g_target, missing));
        EXPECT_EQ(missing ? -1 : size, row.targetBytes);
        EXPECT_EQ(g_misplaced, std::vector<uint64_t>());
        EXPECT_EQ(g_events, row.events);
    }
}

}  // namespace
