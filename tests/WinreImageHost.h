#pragma once

#include "ImageDisk.h"
#include "TestSupport.h"

#include <windows.h>

#include <memory>
#include <string>

// What a test host needs to run the recovery extraction on image files
// under Wine: disk geometry for them, partition device links and NTFS images.
namespace winrehost {

// Puts the stand-ins of bin/tools/ first on PATH for good, where the command
// interpreter finds reagentc, and has library use ImageDeviceIoControl.
bool PrepareHost(HMODULE library);

// Points \\.\HarddiskNPartitionM at an image (a Unix path), or removes the link.
bool LinkPartition(unsigned disk, unsigned partition, const std::string& unixImage);
void UnlinkPartition(unsigned disk, unsigned partition);

// Makes an NTFS image with the repository's image script from filler commands.
bool MakeNtfsImage(const std::string& unixImage, unsigned sizeMib, const std::string& commands);
// A file of size pseudo-random bytes.
bool MakeRandomFile(const std::string& unixPath, unsigned long size);

// Lines of tarnwick.log text reduced to "Function: message", for the given functions.
std::string LoggedMessages(const std::string& logText,
                           const std::string& functions = "ExtractWinreFromRecoveryPartition|SearchWinre");
// The extraction's first message on the partition the reagentc stand-in reports.
const std::string kPathLine =
    "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk0Partition4\n";

// A suite of extractions from \\.\Harddisk0Partition4: its scratch folder, the host prepared, the link removed after.
class ExtractionSuite : public testing::Test {
protected:
    static bool PrepareSuite(const wchar_t* tag)
    {
        scratch = std::make_unique<testsupport::ScratchFolder>(tag);
        return PrepareHost(testsupport::Library());
    }
    static void TearDownTestSuite()
    {
        UnlinkPartition(0, 4);
        scratch.reset();
    }

    static inline std::unique_ptr<testsupport::ScratchFolder> scratch;
};

}  // namespace winrehost
