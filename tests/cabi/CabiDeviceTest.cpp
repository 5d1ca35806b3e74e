// CVolumeNumberDevice driven from C by slot number (DeviceSlots.c), on an
// image behind \\.\Harddisk5Partition1.
#include "DeviceSlots.h"
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "winre/VolumeNumberDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>

using namespace testsupport;

namespace {

// Frees of the watched block, which tell destroying from freeing.
const void* g_watched = nullptr;
unsigned g_watchedFrees = 0;

}  // namespace

// The program's own allocation functions, so that every free passes the watch.
void* operator new(std::size_t size)
{
    if (void* memory = HeapAlloc(GetProcessHeap(), 0, size ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    if (!memory) {
        return;
    }
    if (memory == g_watched) {
        ++g_watchedFrees;
    }
    HeapFree(GetProcessHeap(), 0, memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    ::operator delete(memory);
}

namespace {

const char* const kPartition = "\\\\.\\Harddisk5Partition1";
constexpr uint64_t kImageSectors = 2048;

class CabiDeviceTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchFolder>(L"twcabidev");
        image = *scratch / L"disk.img";
        ASSERT_EQ(winrehost::MakeRandomFile(UnixPath(image), kImageSectors * 512).size(), 64u);
        ASSERT_TRUE(winrehost::LinkPartition(5, 1, UnixPath(image)));
        ASSERT_TRUE(winrehost::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "DeviceIoControl",
                                           reinterpret_cast<void*>(&winrehost::ImageDeviceIoControl)));
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(5, 1);
        scratch.reset();
    }

    // True when nothing else holds the image open.
    static bool ImageFree()
    {
        HANDLE file = CreateFileW(image.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        CloseHandle(file);
        return true;
    }

    static inline std::unique_ptr<ScratchFolder> scratch;
    static inline std::wstring image;
};

TEST_F(CabiDeviceTest, EverySlotAnswersWhatItsNumberPromises)
{
    const std::string before = ReadBytes(image);
    std::string read(3 * 512, '\0');
    const std::string written(512, 'C');
    const DeviceSlotPlan plan = {10, 3, &read[0], 7, written.data(), 0x5A};
    DeviceSlotResults results = {};
    CVolumeNumberDevice device(kPartition);
    CallDeviceSlots(&device, &plan, &results);

    EXPECT_FALSE(results.openBefore);
    EXPECT_TRUE(results.opened);
    EXPECT_TRUE(results.openAfter);
    EXPECT_EQ(results.sectorSize, 512u);
    EXPECT_EQ(results.sectorCount, kImageSectors);
    EXPECT_EQ(results.queryA, 0);
    EXPECT_EQ(results.queryB, 0);
    EXPECT_EQ(results.queryC, 2);
    EXPECT_TRUE(results.read);
    EXPECT_TRUE(read == before.substr(10 * 512, 3 * 512));
    EXPECT_TRUE(results.written);
    EXPECT_TRUE(results.flushed);
    EXPECT_EQ(results.lastError, 0u);
    EXPECT_TRUE(results.closed);
    EXPECT_FALSE(results.openAfterClose);
    EXPECT_TRUE(ReadBytes(image) == before.substr(0, 7 * 512) + written + before.substr(8 * 512));
}

TEST_F(CabiDeviceTest, AFailedOpenShowsInTheErrorSlot)
{
    char sectors[3 * 512];
    const DeviceSlotPlan plan = {0, 3, sectors, 1, sectors, 0};
    DeviceSlotResults results = {};
    CVolumeNumberDevice missing("\\\\.\\Harddisk5Partition9");
    CallDeviceSlots(&missing, &plan, &results);
    EXPECT_FALSE(results.opened);
    EXPECT_FALSE(results.openAfter);
    EXPECT_NE(results.lastError, 0u);
    EXPECT_FALSE(results.read);
    EXPECT_FALSE(results.written);
    EXPECT_FALSE(results.flushed);
}

TEST_F(CabiDeviceTest, SlotZeroClosesTheDeviceAndFreesItOnlyWithFlagOne)
{
    void* memory = ::operator new(sizeof(CVolumeNumberDevice));
    g_watched = memory;
    g_watchedFrees = 0;
    CVolumeNumberDevice* kept = new (memory) CVolumeNumberDevice(kPartition);
    ASSERT_TRUE(kept->Open());
    EXPECT_FALSE(ImageFree());
    EXPECT_EQ(DestroyDeviceBySlot(kept, 0), memory);
    EXPECT_EQ(g_watchedFrees, 0u);
    EXPECT_TRUE(ImageFree());
    ::operator delete(memory);

    CVolumeNumberDevice* freed = new CVolumeNumberDevice(kPartition);
    g_watched = freed;
    g_watchedFrees = 0;
    ASSERT_TRUE(freed->Open());
    EXPECT_FALSE(ImageFree());
    EXPECT_EQ(DestroyDeviceBySlot(freed, 1), nullptr);
    EXPECT_EQ(g_watchedFrees, 1u);
    EXPECT_TRUE(ImageFree());
    g_watched = nullptr;
}

}  // namespace
