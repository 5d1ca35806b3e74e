#pragma once

#include "TestSupport.h"

#include "TarnwickMedia.h"
#include "pemaker/PEMaker.h"

#include <string>
#include <vector>

namespace petest {


// Records what the library sends and answers ShouldContinue from a script:
// the check numbered cancelAt (from 1) answers cancel.
class RecordingSink : public IProgressSink {
public:
    explicit RecordingSink(int cancelAt = 0) : m_cancelAt(cancelAt) {}

    bool OnProgress(const ProgressInfo* info) override;
    bool ShouldContinue() override;

    std::vector<ProgressInfo> records;
    int checks = 0;

    // current of every record, and -1 for a failure record.
    std::vector<long long> Values() const;

private:
    int m_cancelAt;
};

// Points TMP and TEMP at a private folder for its lifetime, so that leftover
// checks see only what this test program made.
class PrivateTemp {
public:
    PrivateTemp();
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;

    const std::wstring& path() const { return m_path; }
    // Names in the folder, without the test support's own ("tw...").
    std::vector<std::wstring> Names() const;

private:
    std::wstring m_path;
    std::wstring m_oldTmp;
    std::wstring m_oldTemp;
};

}  // namespace petest

// Friend of CPEMaker.
struct PEMakerTestPeer {
    static IProgressSink*& Sink(CPEMaker& maker) { return maker.m_pSink; }
    static wchar_t* WimPath(CPEMaker& maker) { return maker.m_szWimPath; }
    static wchar_t* PEDir(CPEMaker& maker) { return maker.m_szPEDir; }
    static wchar_t* IsoPath(CPEMaker& maker) { return maker.m_szIsoPath; }
    static BYTE& Initialized(CPEMaker& maker) { return maker.m_bInitialized; }

    static void ReportProgress(CPEMaker& maker, uint64_t current, uint64_t total, const char* message)
    {
        maker._ReportProgress(current, total, message);
    }
    static bool ShouldContinue(CPEMaker& maker) { return maker._ShouldContinue(); }
    static bool UpdateWIM(CPEMaker& maker, const std::vector<std::wstring>& commands, bool rebuild)
    {
        return maker._UpdateWIM(commands, rebuild);
    }
    static bool FindWimlibPath(CPEMaker& maker, wchar_t* buffer) { return maker._FindWimlibPath(buffer); }
    static bool CreateUpdateCommandFile(CPEMaker& maker, const std::vector<std::wstring>& commands, wchar_t* buffer)
    {
        return maker._CreateUpdateCommandFile(commands, buffer);
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

}  // namespace petest
