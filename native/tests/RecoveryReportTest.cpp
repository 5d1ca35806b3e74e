#include "RecoveryReport.h"

#include <gtest/gtest.h>

namespace {

const char* const kReport =
    "Windows Recovery Environment (Windows RE) and system reset configuration\n"
    "Information:\n\n"
    "    Windows RE status:         Enabled\n"
    "    Windows RE location:       \\\\?\\GLOBALROOT\\device\\harddisk0\\partition4\\Recovery\\WindowsRE\n"
    "    Boot Configuration Data (BCD) identifier: 6b3c4e2a-1d7f-11ee-9c2b-0800273e5f10\n"
    "REAGENTC.EXE: Operation Successful.\n";

TEST(RecoveryReport, TakesDiskAndPartitionFromTheLocationLine)
{
    EXPECT_EQ(RecoveryPartitionFromReport(kReport), "\\\\.\\Harddisk0Partition4");
}

TEST(RecoveryReport, MatchesKeywordsInAnyCaseAndReadsSeveralDigits)
{
    EXPECT_EQ(RecoveryPartitionFromReport("\\Device\\HardDisk12\\PARTITION7"), "\\\\.\\Harddisk12Partition7");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk3 partition05"), "\\\\.\\Harddisk3Partition5");
}

TEST(RecoveryReport, IgnoresAPartitionBeforeTheFirstHarddisk)
{
    EXPECT_EQ(RecoveryPartitionFromReport("partition9 then harddisk2 and partition1"), "\\\\.\\Harddisk2Partition1");
    EXPECT_EQ(RecoveryPartitionFromReport("partition9 then harddisk2"), "");
}

TEST(RecoveryReport, TriesOnlyTheFirstHarddisk)
{
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk volume, then harddisk1\\partition2"), "");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk1\\partition x partition2"), "");
}

TEST(RecoveryReport, EmptyWithoutKeywordsOrText)
{
    EXPECT_EQ(RecoveryPartitionFromReport(""), "");
    EXPECT_EQ(RecoveryPartitionFromReport("Windows RE status: Disabled\nWindows RE location:\n"), "");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk0 only"), "");
}

TEST(RecoveryReport, WrapsLargeNumbersAndRefusesNegativeOnes)
{
    // 4294967297 wraps to 1; 2147483648 wraps to a negative number.
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk4294967297partition2"), "\\\\.\\Harddisk1Partition2");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk2147483648partition2"), "");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk1partition2147483647"), "\\\\.\\Harddisk1Partition2147483647");
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk-1partition2"), "");
}

TEST(RecoveryReport, DigitsUpToTheEndOfTheTextEndTheNumber)
{
    EXPECT_EQ(RecoveryPartitionFromReport("harddisk5partition123"), "\\\\.\\Harddisk5Partition123");
}

}  // namespace
