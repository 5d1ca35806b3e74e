// The builder object: Init on the PE folder beside the host program, and the
// progress records sent to the host's sink.
#include "PETestSupport.h"

#include "common/ProgressReport.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>

using namespace testsupport;
using namespace petest;

namespace {

// "init-paths": Init beside this program; prints the PE folder and the WIM path.
int InitPathsMode(int, wchar_t**)
{
    CPEMaker maker;
    maker.Init();
    std::printf("%s\n%s", ToUtf8(PEMakerTestPeer::PEDir(maker)).c_str(),
                ToUtf8(PEMakerTestPeer::WimPath(maker)).c_str());
    return 0;
}

const bool kRegistered = (RegisterChildMode("init-paths", InitPathsMode), true);

}  // namespace

// There is no PE folder beside the copy: Init logs the path it looked at.
TEST(PEMakerInitTest, PathsBesideADeepHostProgramAreCutAt259CharactersAndAMissingWimIsLoggedWithItsPath)
{
    ScratchFolder scratch;
    const std::wstring deep = scratch.path() + L"\\" + std::wstring(250 - scratch.path().size() - 1, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    const std::wstring program = deep + L"\\t.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), program.c_str(), FALSE));
    const ChildResult child = RunProgram(program + L" --child init-paths", scratch.path());
    const std::string wim = ToUtf8((deep + L"\\PE\\ISO\\SOURCES\\BOOT.wim").substr(0, 259));
    EXPECT_EQ(child.stdoutBytes, ToUtf8(deep + L"\\PE") + "\r\n" + wim);
    EXPECT_TRUE(std::regex_search(ReadBytes(scratch / L"tarnwick.log"),
                                  std::regex("    CPEMaker::Init:\\d+ PEMaker::Init: Source WIM not found at " +
                                             RegexEscape(wim) + ", error code: \\d+ \\(.+\\)\r\n")));
}

// Every field of both kinds of record; the C sink of PEFlowTest, whose other
// slots are null, shows that only the second and sixth are called.
TEST(ProgressReportTest, RecordsHaveEveryFieldAtItsPlace)
{
    RecordingSink sink;
    progress::Report(&sink, 45, 100, nullptr);
    // Zero of zero is a failure, its message cut at 255 bytes.
    const std::string message(300, 'm');
    progress::Report(&sink, 0, 0, message.c_str());
    ASSERT_EQ(sink.records.size(), 2u);

    unsigned char expected[312] = {32, 0, 0, 0, 2, 0, 0, 0, 100};
    expected[16] = 45;
    EXPECT_EQ(std::memcmp(&sink.records[0], expected, sizeof(expected)), 0);
    std::memset(expected, 0, sizeof(expected));
    expected[0] = 32;
    expected[4] = 3;
    expected[48] = 1;
    std::memset(expected + 52, 'm', 255);
    EXPECT_EQ(std::memcmp(&sink.records[1], expected, sizeof(expected)), 0) << sink.records[1].message;
}

// What the interpreter's rmdir leaves of a staging folder goes through the
// file system, where a read-only file or folder cannot be deleted as it is.
TEST(RemoveTreeTest, RemovesReadOnlyFilesAndFolders)
{
    ScratchFolder scratch;
    const std::wstring tree = scratch / L"PEC1.tmp";
    MakeTree(tree, {L"\\sub"}, {{L"\\sub\\locked.txt", "x"}, {L"\\top.txt", "y"}});
    for (const wchar_t* name : {L"\\sub\\locked.txt", L"\\top.txt", L"\\sub"}) {
        ASSERT_TRUE(SetFileAttributesW((tree + name).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_FALSE(Exists(tree));
}

// What decides that a build may leave the image as it is: every change that
// would change the image changes the digest, and what the image never holds
// (the PE folder, the build's own log) does not.
TEST(BuildInputsTest, ChangesToTheSourcesChangeTheDigestAndThePEFolderAndOwnLogDoNot)
{
    ScratchFolder scratch;
    const std::wstring source = scratch / L"app";
    const std::wstring pe = source + L"\\PE";
    const std::wstring log = source + L"\\tarnwick.log";
    MakeTree(source, {L"\\PE", L"\\data"}, {{L"\\data\\a.bin", "abc"}, {L"\\PE\\BOOT.wim", "image"}});
    const auto digest = [&] {
        BuildInputs inputs(true, log);
        inputs.Tree(source, pe);
        return inputs.Digest();
    };
    const std::string before = digest();
    ASSERT_EQ(before.size(), 64u);
    EXPECT_EQ(digest(), before);

    WriteBytes(pe + L"\\BOOT.wim.work", "copy");
    WriteBytes(log, "a line");
    EXPECT_EQ(digest(), before) << "the PE folder or the log counted";

    // The same size with a new last-write time, as an edit in place leaves it.
    const std::wstring file = source + L"\\data\\a.bin";
    WriteBytes(file, "xyz");
    FILETIME later = {};
    GetSystemTimeAsFileTime(&later);
    reinterpret_cast<ULARGE_INTEGER&>(later).QuadPart += 10000000ull * 3600;
    {
        UniqueHandle handle(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(handle.Get(), nullptr, nullptr, &later));
    }
    const std::string edited = digest();
    EXPECT_NE(edited, before);
    ASSERT_TRUE(MoveFileW(file.c_str(), (source + L"\\data\\b.bin").c_str()));
    EXPECT_NE(digest(), edited) << "a rename";

    BuildInputs untaken(false, log);
    untaken.Tree(source, pe);
    BuildInputs empty(true, log);
    EXPECT_EQ(untaken.Digest(), empty.Digest());
}
