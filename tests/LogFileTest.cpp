#include "TestSupport.h"

#include "common/LogFile.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <regex>
#include <vector>

using namespace testsupport;

namespace {
bool refuseNew = false;
}

// Every allocation of this program, the library's code linked into it
// included, goes through here, so a test can make memory run out.
void* operator new(size_t size)
{
    void* block = refuseNew ? nullptr : HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    return block ? block : throw std::bad_alloc();
}
void operator delete(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete(void* block, size_t) noexcept { HeapFree(GetProcessHeap(), 0, block); }

namespace {

// "log-line TEXT [NEXT]": logs TEXT and the last error, set to 2 just
// before; with NEXT, makes the folder NEXT the current one (or, for
// "unblock", removes the folder that stands where the log file would be) and
// logs them again.
int LogLineMode(int argc, wchar_t** argv)
{
    const std::string text = WideToAnsi(argv[0]);
    const auto write = [&] {
        SetLastError(ERROR_FILE_NOT_FOUND);
        CLogFile::GetInstance().Write(16, "Child", 7, "%s %lu", text.c_str(), GetLastError());
    };
    write();
    if (argc > 1) {
        if (std::wstring(argv[1]) == L"unblock") {
            RemoveDirectoryW(L"tarnwick.log");
        } else {
            SetCurrentDirectoryW(argv[1]);
        }
        write();
    }
    return 0;
}

// "log-wide": logs a wide string with a character that the code pages place
// differently, then prints the ANSI code page and WideToAnsi of the string.
int LogWideMode(int, wchar_t**)
{
    const wchar_t* name = L"Jos\u00E9";
    TW_LOG("Child", "name %ls", name);
    std::printf("%u\n%s", GetACP(), WideToAnsi(name).c_str());
    return 0;
}

const bool kRegistered = (RegisterChildMode("log-line", LogLineMode), RegisterChildMode("log-wide", LogWideMode), true);

const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");

// Writes one entry and expects "[Tarnwick]", the local time between before
// and after the write, four spaces, "F:12 ", the message and CR LF.
template <typename... Args>
void ExpectEntry(const char* function, unsigned line, const std::string& message, const char* format, Args... args)
{
    SCOPED_TRACE(message.substr(0, 60));
    CLogFile& log = CLogFile::GetInstance();
    LogWatch watch;
    const std::string before = log.GetTimeString();
    log.Write(16, function, line, format, args...);
    const std::string after = log.GetTimeString();
    const std::string entry = watch.Added();
    ASSERT_GE(entry.size(), 29u);
    const std::string stamp = entry.substr(10, 19);
    EXPECT_EQ(entry, "[Tarnwick]" + stamp + "    " + function + ":" + std::to_string(line) + " " + message + "\r\n");
    EXPECT_TRUE(std::regex_match(stamp, kStamp)) << stamp;
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
}

TEST(LogFile, EntryIsPrefixLocalTimeFunctionLineTheFormattedMessageAndCrLfInAFileOthersMayWrite)
{
    ExpectEntry("G", 1, "code 4294967295 path C:\\PE x", "code %lu path %ls %s", 4294967295ul, L"C:\\PE", "x");
    // The conversions around the wide text keep their own form.
    const std::string day = WideToAnsi(L"\u65E5");
    ExpectEntry("CPEMaker::Init", 9,
                "ab  |" + std::string(5 - day.size(), ' ') + day + "|xy|q|1099511627776|   2.5|%|(null)|ff",
                "%-4s|%5ls|%.2ls|%c|%I64u|%*.*f|%%|%ls|%x", "ab", L"\u65E5", L"xyz", 'q', 1ull << 40, 6, 1, 2.5,
                static_cast<const wchar_t*>(nullptr), 255u);
    // A line break at the end leaves an empty line.
    ExpectEntry("ConvertESDToISO", 30, "ConvertESDToISO failed: boom\r\n", "ConvertESDToISO failed: %s\n", "boom");
    // Around the buffer size and far beyond, messages arrive whole.
    for (size_t length : {1022u, 1023u, 1024u, 70000u}) {
        const std::string message(length, static_cast<char>('a' + length % 26));
        ExpectEntry("CPEMaker::_UpdateWIM", 4242, message, "%s", message.c_str());
    }

    CLogFile& log = CLogFile::GetInstance();
    LogWatch watch;
    log.Write(16, "F", 1, nullptr);
    EXPECT_EQ(watch.Added(), "") << "a null format writes nothing";
    // Others may read and write the open file.
    EXPECT_TRUE(UniqueHandle(CreateFileW(L"tarnwick.log", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr))
                    .Valid());

    SYSTEMTIME now;
    GetLocalTime(&now);
    char expectedDay[16];
    std::snprintf(expectedDay, sizeof(expectedDay), "%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
    EXPECT_EQ(log.GetTimeString().substr(0, 10), expectedDay);  // month counts from 01
}

// The first entry of a process opens the file, once, and must not change the
// last error that its own arguments read.
TEST(LogFile, FirstUseKeepsTheCallersLastErrorFixesTheFolderAndIsTheOnlyTryToOpen)
{
    ScratchFolder folder;
    ScratchFolder moved;
    ASSERT_EQ(RunChild(L"log-line first " + moved.path(), folder.path()).exitCode, 0u);
    ASSERT_EQ(RunChild(L"log-line second", folder.path()).exitCode, 0u);
    const std::string entry = "[Tarnwick]T    Child:7 ";
    EXPECT_EQ(std::regex_replace(ReadBytes(folder / L"tarnwick.log"), kStamp, "T"),
              entry + "first 2\r\n" + entry + "first 2\r\n" + entry + "second 2\r\n");
    EXPECT_FALSE(Exists(moved / L"tarnwick.log"));

    // A folder in the file's place makes the open fail; it goes before the second entry.
    ScratchFolder blocked;
    ASSERT_TRUE(CreateDirectoryW((blocked / L"tarnwick.log").c_str(), nullptr));
    EXPECT_EQ(RunChild(L"log-line lost unblock", blocked.path()).exitCode, 0u);
    EXPECT_EQ(ListNames(blocked.path()), std::vector<std::wstring>{});
}

TEST(LogFile, WideArgumentsReachTheLogAsWideToAnsiGivesThemOrTheEntryIsLostWithoutMemory)
{
    const std::wstring longPath(200, L'p');
    std::string converted = "before";
    LogWatch watch;
    // Both are noexcept: a throw would end this program.
    refuseNew = true;
    TW_LOG("F", "path %ls", longPath.c_str());
    TW_LOG("F", "plain %s", "text");
    converted = WideToAnsi(longPath);
    refuseNew = false;
    EXPECT_EQ(converted, "");
    const std::string added = watch.Added();
    EXPECT_EQ(added.find("path"), std::string::npos) << "lost whole, not written without its path";
    EXPECT_TRUE(Holds(added, " plain text\r\n")) << "an entry without wide text needs no memory";

    // Wine takes the code page from the Linux locale of a program it starts,
    // so the child is started from Linux.
    ScratchFolder folder;
    const standin::UnixResult run = Shell("cd '" + UnixPath(folder.path()) + "' && LC_ALL=ru_RU.UTF-8 exec '" +
                                          SourceDir() + "/cmake/wine-run.sh' '" + UnixPath(ThisProgram()) +
                                          "' --child log-wide");
    ASSERT_TRUE(run.answered && run.exitCode == 0) << run.output;
    ASSERT_EQ(run.output.substr(0, 6), "1251\r\n") << "a code page where the runtime's own conversion differs";
    EXPECT_TRUE(Holds(ReadBytes(folder / L"tarnwick.log"), " name " + run.output.substr(6) + "\r\n"));
}

TEST(WideToAnsi, ConvertsUpToAnEmbeddedNulAndGivesTheDefaultCharacterForWhatTheCodePageLacks)
{
    EXPECT_EQ(WideToAnsi(L""), "");
    EXPECT_EQ(WideToAnsi(L"C:\\Program Files\\App\\x.exe"), "C:\\Program Files\\App\\x.exe");
    EXPECT_EQ(WideToAnsi(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(WideToAnsi(std::wstring(5000, L'p')), std::string(5000, 'p'));
    CPINFO info = {};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    // A multi-byte code page's default character can take two bytes.
    if (info.MaxCharSize == 1) {
        EXPECT_EQ(WideToAnsi(L"a\u4E2Db"), std::string("a") + static_cast<char>(info.DefaultChar[0]) + "b");
    }
}

}  // namespace
