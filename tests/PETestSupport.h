#pragma once

#include "TestSupport.h"

#include "TarnwickMedia.h"
#include "pemaker/PEMaker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace petest {

using testsupport::RecordingSink;

// Points TMP and TEMP at a private folder for its lifetime. On destruction
// it fails the running test if anything is left in it but the test support's
// own files ("tw...") and the product's lasting "_wim_empty" folder.
class PrivateTemp {
public:
    ~PrivateTemp();
    const std::wstring& path() const { return m_folder.path(); }

private:
    testsupport::ScratchFolder m_folder{L"twtemp"};
    testsupport::EnvScope m_tmp{L"TMP", m_folder.path()};
    testsupport::EnvScope m_temp{L"TEMP", m_folder.path()};
};

}  // namespace petest

// Friend of CPEMaker.
struct PEMakerTestPeer {
    static IProgressSink*& Sink(CPEMaker& maker) { return maker.m_pSink; }
    static wchar_t* WimPath(CPEMaker& maker) { return maker.m_szWimPath; }
    static wchar_t* PEDir(CPEMaker& maker) { return maker.m_szPEDir; }

    using Commands = std::vector<std::wstring>;
    static bool UpdateWIM(CPEMaker& m, const Commands& batch, bool rebuild) { return m._UpdateWIM(batch, rebuild); }
    static bool CreateUpdateCommandFile(CPEMaker& m, const Commands& batch, wchar_t* name)
    {
        return m._CreateUpdateCommandFile(batch, name);
    }
};

namespace petest {

// The folder PE beside the test program with an (empty) working WIM, removed
// with its content afterwards. Tests that use it hold the ctest resource lock
// "pe_folder".
class PEFolder {
public:
    explicit PEFolder(bool withWim = true);
    ~PEFolder();
    PEFolder(const PEFolder&) = delete;
    PEFolder& operator=(const PEFolder&) = delete;

    const std::wstring& path() const { return m_path; }
    std::wstring Wim() const { return m_path + L"\\ISO\\SOURCES\\BOOT.wim"; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// The bytes of a file inside image 1 of a WIM, through the real wimlib.
std::string WimFile(const std::wstring& wim, const std::string& imagePath);
// "wimlib-imagex dir" of image 1.
std::string WimListing(const std::wstring& wim);
// A WIM captured by the real wimlib from a folder.
bool CaptureWim(const std::wstring& folder, const std::wstring& wim);

// What the builder's tests share: a private TEMP, the stand-ins first on
// PATH, the PE folder, a scratch folder, the tool journal and a sink.
class PEMakerFixture : public testing::Test {
protected:
    PrivateTemp temp;
    testsupport::ToolsFirstOnPath toolsOnPath;
    PEFolder pe;
    testsupport::ScratchFolder scratch;
    testsupport::StandinJournal journal;
    RecordingSink sink;
};

}  // namespace petest
