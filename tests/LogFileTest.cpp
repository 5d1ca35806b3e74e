#include "TestSupport.h"

#include "common/LogFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
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
    if (!block) {
        throw std::bad_alloc();
    }
    return block;
}
void operator delete(void* block) noexcept
{
    HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept
{
    HeapFree(GetProcessHeap(), 0, block);
}

namespace {

// "log-line TEXT [NEXT]": logs TEXT; with NEXT, makes the folder NEXT the
// current one (or, for "unblock", removes the folder that stands where the
// log file would be) and logs TEXT again.
const int kRegistered = (RegisterChildMode("log-line",
                                           [](int argc, wchar_t** argv) {
                                               const std::string text = argc > 0 ? WideToAnsi(argv[0]) : "";
                                               CLogFile::GetInstance().Write(16, "Child", 7, "%s", text.c_str());
                                               if (argc > 1) {
                                                   if (std::wstring(argv[1]) == L"unblock") {
                                                       RemoveDirectoryW(L"tarnwick.log");
                                                   } else {
                                                       SetCurrentDirectoryW(argv[1]);
                                                   }
                                                   CLogFile::GetInstance().Write(16, "Child", 7, "%s", text.c_str());
                                               }
                                               return 0;
                                           }),
                         0);

const int kRegisteredLastError = (RegisterChildMode("log-last-error",
                                                    [](int, wchar_t**) {
                                                        SetLastError(ERROR_FILE_NOT_FOUND);
                                                        TW_LOG("Child", "error %lu", GetLastError());
                                                        return 0;
                                                    }),
                                  0);

// "log-wide": logs a wide string with a character that the code pages place
// differently, then prints the ANSI code page and WideToAnsi of the string.
const int kRegisteredWide = (RegisterChildMode("log-wide",
                                               [](int, wchar_t**) {
                                                   const wchar_t* name = L"Jos\u00E9";
                                                   TW_LOG("Child", "name %ls", name);
                                                   std::printf("%u\n%s", GetACP(), WideToAnsi(name).c_str());
                                                   return 0;
                                               }),
                             0);

const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");

// "[Tarnwick]" + stamp + four spaces + "F:12 " + message + CR LF, with the
// stamp taken between the two given bounds.
void ExpectEntry(const std::string& entry, const std::string& before, const std::string& after,
                 const std::string& function, unsigned line, const std::string& message)
{
    ASSERT_GE(entry.size(), 29u);
    EXPECT_EQ(entry.substr(0, 10), "[Tarnwick]");
    const std::string stamp = entry.substr(10, 19);
    EXPECT_TRUE(std::regex_match(stamp, kStamp)) << stamp;
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
    EXPECT_EQ(entry.substr(29), "    " + function + ":" + std::to_string(line) + " " + message + "\r\n");
}

TEST(LogFile, EntryIsPrefixLocalTimeFunctionLineTheFormattedMessageAndCrLf)
{
    CLogFile& log = CLogFile::GetInstance();
    const std::wstring path = L"C:\\\u65E5\u672C\\PE\\ISO\\SOURCES\\BOOT.wim";
    const std::string day = WideToAnsi(L"\u65E5");
    struct Row {
        std::function<void()> write;
        std::string function;
        unsigned line;
        std::string message;
    };
    std::vector<Row> rows = {
        {[&] { log.Write(16, "F", 12, "abc"); }, "F", 12, "abc"},
        {[&] { log.Write(16, "G", 1, "code %lu path %ls %s", 4294967295ul, L"C:\\PE", "x"); }, "G", 1,
         "code 4294967295 path C:\\PE x"},
        // Wide text outside the code page comes out as the default character.
        {[&] { log.Write(16, "CPEMaker::Init", 9, "PEMaker::Init: Source WIM not found at %ls, error code: %lu",
                         path.c_str(), 3ul); },
         "CPEMaker::Init", 9, "PEMaker::Init: Source WIM not found at " + WideToAnsi(path) + ", error code: 3"},
        // The conversions around the wide text keep their own form.
        {[&] { log.Write(16, "CPEMaker::Init", 9, "%-4s|%5ls|%.2ls|%c|%I64u|%*.*f|%%|%ls|%x", "ab", L"\u65E5",
                         L"xyz", 'q', 1ull << 40, 6, 1, 2.5, static_cast<const wchar_t*>(nullptr), 255u); },
         "CPEMaker::Init", 9, "ab  |" + std::string(5 - day.size(), ' ') + day + "|xy|q|1099511627776|   2.5|%|(null)|ff"},
        // A line break at the end leaves an empty line.
        {[&] { log.Write(16, "ConvertESDToISO", 30, "ConvertESDToISO failed: %s\n", "boom"); }, "ConvertESDToISO", 30,
         "ConvertESDToISO failed: boom\r\n"},
    };
    // Around the buffer size and far beyond, messages arrive whole.
    for (size_t length : {1022u, 1023u, 1024u, 70000u}) {
        const std::string message(length, static_cast<char>('a' + length % 26));
        rows.push_back({[&log, message] { log.Write(16, "CPEMaker::_UpdateWIM", 4242, "%s", message.c_str()); },
                        "CPEMaker::_UpdateWIM", 4242, message});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message.substr(0, 60));
        LogWatch watch;
        const std::string before = log.GetTimeString();
        row.write();
        ExpectEntry(watch.Added(), before, log.GetTimeString(), row.function, row.line, row.message);
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    char expectedDay[16];
    std::snprintf(expectedDay, sizeof(expectedDay), "%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
    EXPECT_EQ(log.GetTimeString().substr(0, 10), expectedDay);  // month counts from 01
}

TEST(LogFile, NullFormatWritesNothing)
{
    LogWatch watch;
    CLogFile::GetInstance().Write(16, "F", 1, nullptr);
    EXPECT_EQ(watch.Added(), "");
}

TEST(LogFile, OpenFileCanBeReadAndWrittenByOthers)
{
    CLogFile::GetInstance().Write(16, "F", 1, "open");
    HANDLE other = CreateFileW(L"tarnwick.log", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    }
}

TEST(LogFile, EntriesStayInTheCurrentFolderOfFirstUseAndLaterRunsAppend)
{
    ScratchFolder folder;
    ScratchFolder moved;
    ASSERT_EQ(RunChild(L"log-line first " + moved.path(), folder.path()).exitCode, 0u);
    ASSERT_EQ(RunChild(L"log-line second", folder.path()).exitCode, 0u);
    const std::string entry = "[Tarnwick]T    Child:7 ";
    EXPECT_EQ(std::regex_replace(ReadBytes(folder / L"tarnwick.log"), kStamp, "T"),
              entry + "first\r\n" + entry + "first\r\n" + entry + "second\r\n");
    EXPECT_FALSE(Exists(moved / L"tarnwick.log"));
}

TEST(LogFile, FirstEntryOfAProcessKeepsTheCallersLastError)
{
    ScratchFolder folder;
    ASSERT_EQ(RunChild(L"log-last-error", folder.path()).exitCode, 0u);
    const std::string content = ReadBytes(folder / L"tarnwick.log");
    EXPECT_TRUE(Holds(content, " error 2\r\n"));
}

// Wine takes the code page from the Linux locale of a program it starts, so
// the child is started from Linux.
TEST(LogFile, WideArgumentsReachTheLogAsWideToAnsiGivesThem)
{
    ScratchFolder folder;
    const standin::UnixResult run = Shell("cd '" + UnixPath(folder.path()) + "' && LC_ALL=ru_RU.UTF-8 exec '" +
                                          SourceDir() + "/cmake/wine-run.sh' '" + UnixPath(ThisProgram()) +
                                          "' --child log-wide");
    ASSERT_TRUE(run.answered && run.exitCode == 0) << run.output;
    ASSERT_EQ(run.output.substr(0, 6), "1251\r\n") << "a code page where the runtime's own conversion differs";
    EXPECT_TRUE(Holds(ReadBytes(folder / L"tarnwick.log"), " name " + run.output.substr(6) + "\r\n"));
}

TEST(LogFile, OutOfMemoryLosesTheEntryWithoutThrowing)
{
    const std::wstring longPath(200, L'p');
    std::string converted = "before";
    LogWatch watch;
    refuseNew = true;
    bool thrown = false;
    try {
        TW_LOG("F", "path %ls", longPath.c_str());
        TW_LOG("F", "plain %s", "text");
        converted = WideToAnsi(longPath);
    } catch (...) {
        thrown = true;
    }
    refuseNew = false;
    EXPECT_FALSE(thrown);
    EXPECT_EQ(converted, "");
    const std::string added = watch.Added();
    EXPECT_EQ(added.find("path"), std::string::npos) << "lost whole, not written without its path";
    EXPECT_TRUE(Holds(added, " plain text\r\n")) << "an entry without wide text needs no memory";
}

TEST(LogFile, UnopenableFileLosesEveryEntryWithoutASecondTry)
{
    ScratchFolder folder;
    // A folder in the file's place makes the open fail; it goes before the second entry.
    ASSERT_TRUE(CreateDirectoryW((folder / L"tarnwick.log").c_str(), nullptr));
    EXPECT_EQ(RunChild(L"log-line lost unblock", folder.path()).exitCode, 0u);
    EXPECT_EQ(ListNames(folder.path()), std::vector<std::wstring>{});
}

TEST(WideToAnsi, ConvertsPlainTextAndStopsAtEmbeddedNul)
{
    EXPECT_EQ(WideToAnsi(L""), "");
    EXPECT_EQ(WideToAnsi(L"C:\\Program Files\\App\\x.exe"), "C:\\Program Files\\App\\x.exe");
    EXPECT_EQ(WideToAnsi(std::wstring(L"ab\0cd", 5)), "ab");
    const std::wstring longPath(5000, L'p');
    EXPECT_EQ(WideToAnsi(longPath), std::string(5000, 'p'));
}

TEST(WideToAnsi, UnrepresentableCharacterBecomesTheDefaultCharacter)
{
    CPINFO info = {};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1) {
        GTEST_SKIP() << "ANSI code page is multi-byte";
    }
    EXPECT_EQ(WideToAnsi(L"a\u4E2Db"), std::string("a") + static_cast<char>(info.DefaultChar[0]) + "b");
}

}  // namespace
