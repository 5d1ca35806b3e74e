#include "RecoveryReport.h"

#include <gtest/gtest.h>

namespace {

// The stand-in's whole report is read in winre_extraction_test.
TEST(RecoveryReport, TakesTheFirstHarddiskAndThePartitionAfterIt)
{
    const struct {
        const char* report;
        const char* path;
    } rows[] = {
        // Keywords in any case, several digits, a leading zero.
        {"\\Device\\HardDisk12\\PARTITION7", "\\\\.\\Harddisk12Partition7"},
        {"harddisk3 partition05", "\\\\.\\Harddisk3Partition5"},
        // A partition before the first harddisk does not count.
        {"partition9 then harddisk2 and partition1", "\\\\.\\Harddisk2Partition1"},
        {"partition9 then harddisk2", ""},
        // Only the first of each keyword is tried, and digits must follow it.
        {"harddisk volume, then harddisk1\\partition2", ""},
        {"harddisk1\\partition x partition2", ""},
        {"", ""},
        // Numbers wrap in 32 bits, and a negative one is refused; digits up to the end of the text count.
        {"harddisk4294967297partition2", "\\\\.\\Harddisk1Partition2"},
        {"harddisk2147483648partition2", ""},
        {"harddisk1partition2147483647", "\\\\.\\Harddisk1Partition2147483647"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report);
        EXPECT_EQ(RecoveryPartitionFromReport(row.report), row.path);
    }
}

}  // namespace
