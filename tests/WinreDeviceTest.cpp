// The storage device on an image behind \\.\Harddisk3Partition2, from C++ and by slot from C (cabi/DeviceSlots.c).
#include "DeviceSlots.h"
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "common/UniqueHandle.h"
#include "winre/VolumeNumberDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <vector>

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
    if (memory) {
        g_watchedFrees += memory == g_watched ? 1 : 0;
        HeapFree(GetProcessHeap(), 0, memory);
    }
}

void operator delete(void* memory, std::size_t) noexcept
{
    ::operator delete(memory);
}

namespace {

const char* const kPartition = "\\\\.\\Harddisk3Partition2";
constexpr uint64_t kSectors = 8192;

class WinreDeviceTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchFolder>(L"twdev");
        image = *scratch / L"disk.img";
        ASSERT_TRUE(winrehost::MakeRandomFile(UnixPath(image), kSectors * 512));
        ASSERT_TRUE(winrehost::LinkPartition(3, 2, UnixPath(image)));
        ASSERT_TRUE(PatchGeometry(reinterpret_cast<void*>(&ImageDeviceIoControl)));
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(3, 2);
        scratch.reset();
    }
    // Puts function in place of this program's DeviceIoControl, which the device calls.
    static bool PatchGeometry(void* function)
    {
        return PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "DeviceIoControl", function);
    }

    // True when nothing else holds the image open.
    static bool ImageFree()
    {
        const UniqueHandle file(
            CreateFileW(image.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return file.Valid();
    }

    static inline std::unique_ptr<ScratchFolder> scratch;
    static inline std::wstring image;
};

TEST(WinreDevicePath, RewritesOnlyVolumeGuidPaths)
{
    EXPECT_EQ(CVolumeNumberDevice("\\\\?\\Volume{0b1e2c3d-0000-0000-0000-100000000000}\\").Path(),
              "\\\\.\\Volume{0b1e2c3d-0000-0000-0000-100000000000}\\");
    EXPECT_EQ(CVolumeNumberDevice("\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition4").Path(),
              "\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition4");
}

TEST_F(WinreDeviceTest, EverySlotAnswersWhatItsNumberPromisesToC)
{
    const std::string before = ReadBytes(image);
    std::string read(3 * 512, '\0');
    const std::string written(512, 'C');
    CVolumeNumberDevice device(kPartition);
    uint64_t answers[DEVICE_SLOT_ANSWERS] = {};
    const unsigned queries = ImageGeometryQueries();
    CallDeviceSlots(&device, &read[0], written.data(), answers);
    // A second Open keeps the open handle; a short read is a failure.
    EXPECT_EQ(std::vector<uint64_t>(answers, answers + DEVICE_SLOT_ANSWERS),
              (std::vector<uint64_t>{0, 1, 1, 1, 512, kSectors, 0, 0, 2, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0}));
    EXPECT_EQ(ImageGeometryQueries() - queries, 1u);
    EXPECT_TRUE(read == before.substr(10 * 512, 3 * 512));
    EXPECT_TRUE(ReadBytes(image) == before.substr(0, 7 * 512) + written + before.substr(8 * 512));
    // Closed, it keeps its geometry.
    EXPECT_EQ(device.GetSectorCount(), kSectors);
}

TEST_F(WinreDeviceTest, SlotZeroClosesTheDeviceAndFreesItOnlyWithFlagOne)
{
    for (const unsigned flags : {0u, 1u}) {
        SCOPED_TRACE(flags);
        auto* device = new CVolumeNumberDevice(kPartition);
        g_watched = device;
        g_watchedFrees = 0;
        ASSERT_TRUE(device->Open());
        EXPECT_FALSE(ImageFree());
        EXPECT_EQ(DestroyDeviceBySlot(device, flags), flags ? nullptr : device);
        EXPECT_EQ(g_watchedFrees, flags);
        EXPECT_TRUE(ImageFree());
        if (flags == 0) {
            ::operator delete(device);  // destroyed, still ours to free
        }
    }
    g_watched = nullptr;
}

TEST_F(WinreDeviceTest, FallsBackToReadingWhenWritersAreLockedOut)
{
    const UniqueHandle reader(
        CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.Valid());
    CVolumeNumberDevice device(kPartition);
    EXPECT_TRUE(device.Open());
    EXPECT_EQ(device.GetLastErrorCode(), static_cast<uint64_t>(ERROR_SHARING_VIOLATION));
    char sector[512];
    EXPECT_TRUE(device.ReadSectors(sector, 1, 1));
    EXPECT_FALSE(device.WriteSectors(sector, 1, 1));
}

TEST_F(WinreDeviceTest, FailsWithoutPathGeometryOrDeviceAndStaysClosed)
{
    // Wine answers neither the geometry query nor the free-space query on a device path.
    PatchGeometry(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DeviceIoControl")));
    const struct {
        const char* path;
        uint64_t error;  // 0: any
    } rows[] = {{nullptr, 87}, {kPartition, 0}, {"\\\\.\\Harddisk3Partition9", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path ? row.path : "no path");
        CVolumeNumberDevice device(row.path);
        EXPECT_FALSE(device.Open());
        EXPECT_FALSE(device.IsOpen());
        EXPECT_TRUE(row.error ? device.GetLastErrorCode() == row.error : device.GetLastErrorCode() != 0)
            << device.GetLastErrorCode();
        char sector[512];
        EXPECT_FALSE(device.ReadSectors(sector, 0, 1));
        EXPECT_EQ(device.GetSectorSize(), 512u);
    }
    EXPECT_TRUE(ImageFree());
    PatchGeometry(reinterpret_cast<void*>(&ImageDeviceIoControl));
}

}  // namespace
