// The copy loop and clean-up of ExtractWinreFromRecoveryPartition against a
// scripted file-system object put in place of ravenfs.dll's factory.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"
#include "TarnwickVolumeFs.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = winrehost::UseOwnLogFolder(L"winre_copy_test");

constexpr uint32_t kPiece = 2097152;
const std::string kPathLine = "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk0Partition4\n";

char PatternByte(uint64_t at)
{
    return static_cast<char>((at * 7 + (at >> 11)) & 0xFF);
}

std::string Pattern(uint64_t size)
{
    std::string bytes(static_cast<size_t>(size), '\0');
    for (uint64_t i = 0; i < size; ++i) {
        bytes[static_cast<size_t>(i)] = PatternByte(i);
    }
    return bytes;
}

struct Script {
    uint64_t size = 0;
    uint64_t delivered = 0;        // bytes the file really holds; defaults to size
    unsigned failingRead = 0;      // 1-based read call that fails, 0 for none
    bool openOnlyBySearch = false;  // the standard path is missing
    bool openFails = false;
    bool sizeFails = false;
    std::wstring target;
};

Script g_script;
std::vector<uint32_t> g_requests;
std::vector<std::string> g_events;

// True when the target file is still held open by the extraction.
bool TargetHeld()
{
    HANDLE file = CreateFileW(g_script.target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return false;
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
    uint64_t FindFirstFile(const wchar_t* pattern, FsFindData* data) override
    {
        const std::wstring text = pattern;
        if (text != L"/*" && text != L"/Sources/*") {
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
        if (g_script.openFails || (g_script.openOnlyBySearch && std::wstring(path) != L"/Sources/WinRe.wim")) {
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
        for (uint64_t i = 0; i < count; ++i) {
            static_cast<char*>(buffer)[i] = PatternByte(m_position + i);
        }
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

class WinreCopyTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = new ScratchFolder(L"twcopy");
        ASSERT_TRUE(winrehost::PrepareHost(Library()));
        ASSERT_TRUE(winrehost::PatchImport(Library(), "ravenfs.dll", "CreateVolumeFsDevice",
                                           reinterpret_cast<void*>(&ScriptedCreate)));
        const std::string image = UnixPath(scratch->path()) + "/disk.img";
        Shell("head -c 1048576 /dev/zero > '" + image + "'");
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, image));
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(0, 4);
        delete scratch;
    }

    // Runs the export with the script; the log lines of the extraction go to messages.
    static bool Extract(Script script, std::string& messages)
    {
        if (script.delivered == 0) {
            script.delivered = script.size;
        }
        script.target = *scratch / L"out.wim";
        DeleteFileW(script.target.c_str());
        g_script = script;
        g_requests.clear();
        g_events.clear();
        LogWatch log;
        const bool result =
            LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(script.target.c_str());
        messages = winrehost::LoggedMessages(log.Added(), "ExtractWinreFromRecoveryPartition|SearchWinre");
        return result;
    }

    static ScratchFolder* scratch;
};

ScratchFolder* WinreCopyTest::scratch = nullptr;

const std::vector<std::string> kCleanOpenAndClose = {"create", "open /Recovery/WindowsRE/winre.wim 128 3 9",
                                                     "close 42, target open", "destroyed"};

TEST_F(WinreCopyTest, ASizeOfWholePiecesNeedsNoFurtherRead)
{
    Script script;
    script.size = 2 * kPiece;
    std::string messages;
    EXPECT_TRUE(Extract(script, messages));
    EXPECT_EQ(messages, kPathLine);
    EXPECT_EQ(g_requests, (std::vector<uint32_t>{kPiece, kPiece}));
    EXPECT_TRUE(ReadBytes(g_script.target) == Pattern(script.size));
    EXPECT_EQ(g_events, kCleanOpenAndClose);
}

TEST_F(WinreCopyTest, EveryReadAsksForTheWholeBuffer)
{
    Script script;
    script.size = 1000;
    std::string messages;
    EXPECT_TRUE(Extract(script, messages));
    EXPECT_EQ(g_requests, (std::vector<uint32_t>{kPiece}));
    script.size = kPiece + 5;
    EXPECT_TRUE(Extract(script, messages));
    EXPECT_EQ(g_requests, (std::vector<uint32_t>{kPiece, kPiece}));
    EXPECT_TRUE(ReadBytes(g_script.target) == Pattern(script.size));
}

TEST_F(WinreCopyTest, AFailedReadKeepsWhatWasWritten)
{
    Script script;
    script.size = 5 * 1024 * 1024;
    script.failingRead = 2;
    std::string messages;
    EXPECT_FALSE(Extract(script, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: read file error\n"
                                    "ExtractWinreFromRecoveryPartition: read size not match\n");
    EXPECT_TRUE(ReadBytes(g_script.target) == Pattern(kPiece));
    EXPECT_EQ(g_events, kCleanOpenAndClose);
}

TEST_F(WinreCopyTest, ReadsThatEndEarlyOrDeliverTooMuchDoNotMatch)
{
    Script early;
    early.size = 5 * 1024 * 1024;
    early.delivered = kPiece + 10;
    std::string messages;
    EXPECT_FALSE(Extract(early, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: read size not match\n");
    EXPECT_EQ(g_requests.size(), 3u);
    EXPECT_TRUE(ReadBytes(g_script.target) == Pattern(kPiece + 10));

    Script more;
    more.size = 1000;
    more.delivered = 3000;
    EXPECT_FALSE(Extract(more, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: read size not match\n");
    EXPECT_EQ(ReadBytes(g_script.target).size(), 3000u);
}

TEST_F(WinreCopyTest, NoTargetBeforeTheImageIsOpenAndSized)
{
    Script unsized;
    unsized.size = 100;
    unsized.sizeFails = true;
    std::string messages;
    EXPECT_FALSE(Extract(unsized, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: not get file size\n");
    EXPECT_FALSE(Exists(g_script.target));
    EXPECT_EQ(g_events, (std::vector<std::string>{"create", "open /Recovery/WindowsRE/winre.wim 128 3 9", "close 42",
                                                  "destroyed"}));

    Script unopenable;
    unopenable.size = 100;
    unopenable.openFails = true;
    EXPECT_FALSE(Extract(unopenable, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: find winre.wim path: /Sources/WinRe.wim\n"
                                    "ExtractWinreFromRecoveryPartition: not open winre.wim\n");
    EXPECT_FALSE(Exists(g_script.target));
    EXPECT_EQ(g_events, (std::vector<std::string>{"create", "open /Recovery/WindowsRE/winre.wim 128 3 9",
                                                  "open /Sources/WinRe.wim 128 3 9", "destroyed"}));
}

TEST_F(WinreCopyTest, OpensTheImageTheSearchFound)
{
    Script script;
    script.size = 777;
    script.openOnlyBySearch = true;
    std::string messages;
    EXPECT_TRUE(Extract(script, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: find winre.wim path: /Sources/WinRe.wim\n");
    EXPECT_TRUE(ReadBytes(g_script.target) == Pattern(777));
}

}  // namespace
