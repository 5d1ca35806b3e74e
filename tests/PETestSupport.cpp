#include "PETestSupport.h"

#include <gtest/gtest.h>

#include <cwchar>

using namespace testsupport;

namespace petest {

namespace {

// Test programs run side by side in bin\ and the log file lies in the current
// folder at first use, so each of these programs logs into a folder of its
// own. Child modes run before the tests and keep the folder they start in.
class OwnLogFolder : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(UseOwnLogFolder()); }
};

const testing::Environment* const ownLogFolder = testing::AddGlobalTestEnvironment(new OwnLogFolder);

// Prints every record as "record <state> <current> <total> <message>".
class PrintingSink : public IProgressSink {
public:
    bool OnProgress(const ProgressInfo* info) override
    {
        const std::string line = "record " + std::to_string(info->state) + " " + std::to_string(info->current) +
                                 " " + std::to_string(info->total) + " " + info->message + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return true;
    }
    bool ShouldContinue() override { return true; }
};

// "-" stands for a null argument.
const wchar_t* Arg(const wchar_t* text)
{
    return std::wcscmp(text, L"-") == 0 ? nullptr : text;
}

// An export of the DLL loaded by full path, with its own imports found beside
// it: "DLL EXPORT ARGS...", MakePE's as TYPE TARGET STARTUP SOURCE...; exit
// code 0 for true.
int CallExport(int argc, wchar_t** argv, IProgressSink* sink)
{
    HMODULE dll = argc >= 2 ? LoadLibraryExW(argv[0], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
    if (!dll) {
        return 2;
    }
    const std::string name = Narrow(argv[1]);
    wchar_t** const args = argv + 2;
    const int count = argc - 2;
    bool result = false;
    if (name == "ExtractWinreFromRecoveryPartition" && count == 1) {
        result = ExportOf<ExtractWinreFromRecoveryPartition_Fn>(dll, name.c_str())(Arg(args[0]));
    } else if (name == "ConvertESDToISO" && count == 2) {
        result = ExportOf<ConvertESDToISO_Fn>(dll, name.c_str())(Arg(args[0]), Arg(args[1]));
    } else if (name == "ConfigureBootWim" && count == 0) {
        result = ExportOf<ConfigureBootWim_Fn>(dll, name.c_str())(sink);
    } else if (name == "MakePE" && count >= 3) {
        const std::vector<std::wstring> sources(args + 3, args + count);
        result = ExportOf<MakePE_Fn>(dll, name.c_str())(&sources, Arg(args[2]), _wtoi(args[0]), Arg(args[1]), sink);
    } else {
        return 2;
    }
    return result ? 0 : 1;
}

// "call ..." with a null sink, "call-printing ..." with one that prints.
const bool callModes = [] {
    RegisterChildMode("call", [](int argc, wchar_t** argv) { return CallExport(argc, argv, nullptr); });
    RegisterChildMode("call-printing", [](int argc, wchar_t** argv) {
        PrintingSink sink;
        return CallExport(argc, argv, &sink);
    });
    return true;
}();

}  // namespace

bool RecordingSink::OnProgress(const ProgressInfo* info)
{
    records.push_back(*info);
    return true;
}

std::vector<long long> RecordingSink::Values() const
{
    std::vector<long long> values;
    for (const ProgressInfo& info : records) {
        values.push_back(info.state == 3 ? -1 : static_cast<long long>(info.current));
    }
    return values;
}

PrivateTemp::~PrivateTemp()
{
    for (const std::wstring& name : ListNames(path())) {
        EXPECT_TRUE(name.compare(0, 2, L"tw") == 0 || name == L"_wim_empty") << "left in TEMP: " << Narrow(name);
    }
}

PEFolder::PEFolder(bool withWim) : m_path(ExeFolder() + L"PE")
{
    RemoveTree(m_path);
    MakeTree(m_path, {L"\\ISO", L"\\ISO\\SOURCES", L"\\ISO\\BOOT"});
    if (withWim) {
        WriteBytes(Wim(), "");
    }
}

PEFolder::~PEFolder()
{
    RemoveTree(m_path);
}

std::string WimFile(const std::wstring& wim, const std::string& imagePath)
{
    return Sh("wimlib-imagex extract '" + UnixPath(wim) + "' 1 '" + imagePath + "' --to-stdout --no-acls");
}

std::string WimListing(const std::wstring& wim)
{
    return Sh("wimlib-imagex dir '" + UnixPath(wim) + "' 1");
}

bool CaptureWim(const std::wstring& folder, const std::wstring& wim)
{
    const standin::UnixResult made = Unix({"wimlib-imagex", "capture", UnixPath(folder), UnixPath(wim), "--quiet"});
    EXPECT_TRUE(made.answered && made.exitCode == 0) << made.output;
    return made.answered && made.exitCode == 0;
}

}  // namespace petest
