#pragma once

#include "BootImageTransaction.h"
#include "BuildInputs.h"
#include "CallWorkFolder.h"
#include "PEFolderLock.h"
#include "TempFile.h"
#include "PEMakerConstants.h"

#include "TarnwickMedia.h"
#include "common/IsoTarget.h"
#include "common/ToolWatch.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The export of the boot-disk library.
typedef bool (*CreateWindowsBootDiskFn)(const wchar_t* isoPath, int diskNumber, IProgressSink* sink);

// What MakePEWithOptions adds to a build.
struct BuildOptions {
    bool network = false;
    bool cleanAppFolder = false;
    std::vector<std::wstring> driverFolders;
};

// What a running flow shares with its steps.
struct BuildFlowState {
    // The boot image's working copy, which every WIM tool run of the flow edits.
    BootImageTransaction* image = nullptr;
    // The flow's folder in the temporary folder, for its temporary files.
    CallWorkFolder work;
    // The ISO of types 2 and 3, locked among the checks; CreateISO writes its
    // ".partial" and the flow decides when it replaces the ISO path.
    std::optional<IsoTarget> iso;
    // Null for MakePE and MakePEFromList.
    const BuildOptions* options = nullptr;
    // The capture configuration every add of the WIM tool's runs takes; empty: none.
    std::wstring captureConfig;
    // Type 3's ISO, in place for the boot-disk library, goes at the end.
    bool deleteIsoAtEnd = false;
    // The driver folders as checked, each the final target of a link given,
    // and the INFs load.cmd loads, below the image's Drivers folder ("01\a.inf").
    std::vector<std::wstring> driverFolders;
    std::vector<std::string> driverInfs;
    // A more precise failure text than the flow's own for CopyApp.
    std::string copyAppFailure;
    // With options: the host asked while tools run, and progress read from
    // the WIM tool between the value sent before a run (spanStart) and the
    // record that closes its stage (spanEnd; 0: none).
    ToolWatch watch;
    uint64_t lastSent = 0;
    uint64_t spanStart = 0;
    uint64_t spanEnd = 0;
};

// The WinPE builder. It works in the folder "PE" beside the host executable
// and edits that folder's boot WIM in place through update batches of the
// WIM tool. One object serves one exported call.
class CPEMaker {
public:
    CPEMaker();

    // Fixes the PE folder and the working WIM; true when the WIM exists.
    bool Init();

    // MakePE: build the image with the application and deliver it by type.
    // The sources are used without the separators they end in.
    bool CreatePE(const std::vector<std::wstring>& appSources, const wchar_t* startupExe, int productionType,
                  const wchar_t* target, IProgressSink* sink);
    // Adds the WinPE requirements of the PE folder to the working WIM.
    bool ConfigureBootWim(IProgressSink* sink);
    // CreatePE with the sources as given and the options of MakePEWithOptions.
    bool CreatePEWithOptions(const std::vector<std::wstring>& appSources, const wchar_t* startupExe,
                             int productionType, const wchar_t* target, const BuildOptions& options,
                             IProgressSink* sink);

    // Clears the old application content of the image, adds the sources and
    // installs winpeshl.ini for startupExe. Fails when startupExe is not
    // empty and no source holds it.
    bool CopyApp(const std::vector<std::wstring>& appSources, const wchar_t* startupExe);
    // Writes "boot.iso" into outputFolder, or into the PE folder when null.
    bool CreateISO(const wchar_t* outputFolder);
    // One-time ramdisk boot entry for the working WIM, then a restart.
    bool RestartToPE();
    // entryId, when given, receives the identifier of the entry it created.
    bool ConfigureBCD(const wchar_t* wimPath, const wchar_t* sdiPath, std::wstring* entryId = nullptr);

private:
    friend struct PEMakerTestPeer;

    // CreatePE for every export; options null for MakePE and MakePEFromList.
    bool _CreatePE(const std::vector<std::wstring>& appSources, const wchar_t* startupExe, int productionType,
                   const wchar_t* target, const BuildOptions* options, IProgressSink* sink);
    // The build after its checks: records, Init, the application on the
    // working copy, the images swapped, and the delivery.
    bool _BuildAndDeliver(const std::vector<std::wstring>& sources, const wchar_t* startupExe, int productionType,
                          const wchar_t* target, CreateWindowsBootDiskFn createBootDisk);
    // Type 3 after its ISO: the disk's size, then the boot-disk library.
    bool _WriteDisk(const wchar_t* target, CreateWindowsBootDiskFn createBootDisk);
    // The first reason why the inputs cannot give the delivery asked for;
    // empty when there is none. For type 3 it also loads the boot-disk
    // library; for types 2 and 3 it locks the ISO path.
    std::string _CheckBuildInputs(const std::vector<std::wstring>& sources, const wchar_t* startupExe,
                                  int productionType, const wchar_t* target, CreateWindowsBootDiskFn& createBootDisk);
    // Whether every driver folder holds a package drvload can install and
    // nothing else would go into the image. Each unusable folder and each
    // INF skipped is logged; the first unusable folder is the failure record.
    // Fills the flow's driver folders and INFs.
    bool _CheckDriverFolders(const std::vector<std::wstring>& folders);
    // The commands that add the checked driver folders and load.cmd, written
    // into loadCmd.
    bool _DriverPackageCommands(std::vector<std::wstring>& batch, TempFile& loadCmd);
    // Settles the boot image an interrupted call left and reclaims the
    // temporary folders of killed calls; false, with the log entry and
    // failure record, when the image cannot be settled.
    bool _SettleInterruptedCalls(BootImageTransaction& image, const char* function);
    // The working copy goes, or the old image comes back, unless committed.
    void _EndBootImage(BootImageTransaction& image, bool succeeded, const char* function);
    // A boot entry of a delivery that did not end in the restart.
    void _DeleteBootEntry(const std::wstring& entryId);
    // Deletes the boot entries an earlier MakePEWithOptions left, found by
    // their description; a failure is logged and the build goes on.
    void _DeleteDescribedEntries();
    // Asks the host; a stop also marks the flow stopped.
    bool _AskToGoOn();
    // The folder for the call's temporary files: the flow's work folder, or
    // the temporary folder outside a flow.
    std::wstring _TempFolder();

    // One log entry under function and one failure record with text.
    void _Fail(const char* function, const std::string& text);
    void _ReportProgress(uint64_t current, uint64_t total, const char* message);
    bool _ShouldContinue();
    // False, with the flow's log entry and failure record, when another build
    // holds the PE folder.
    bool _OwnsPEFolder(const PEFolderLock& lock, const char* function);
    // The first of the PE folder, the temporary folder, target and the
    // sources that the command interpreter could rewrite; empty if none.
    std::wstring _FindInterpreterUnsafePath(const std::vector<std::wstring>& paths, const wchar_t* target);

    // watched: the host may stop the command while it runs (with options).
    bool _RunCommand(const std::wstring& command, DWORD limitMs, bool watched = true);
    bool _RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                               DWORD limitMs, DWORD* exitCode = nullptr, bool watched = true);
    // The watch of the running flow's tools; null without options.
    ToolWatch* _Watch();
    // Whether the host stopped the running flow, or a tool of it.
    bool _Stopped() const;
    // The WIM runs that follow report progress up to spanEnd (0: none).
    void _BeginSpan(uint64_t spanEnd);
    // A line of the WIM tool: false for a progress line, which is sent on.
    bool _OnToolLine(const std::wstring& line);

    // Applies the batch to image 1 of the working WIM in one run of the tool.
    bool _UpdateWIM(const std::vector<std::wstring>& commands, bool rebuild);
    // The image the WIM tool edits: the flow's working copy.
    const wchar_t* _EditedWim() const;
    bool _FindWimlibPath(wchar_t* buffer);
    bool _CreateUpdateCommandFile(const std::vector<std::wstring>& commands, wchar_t* buffer);
    // Runs the WIM tool with inputFile (or nothing) as its standard input.
    bool _RunWimTool(const std::wstring& commandLine, const wchar_t* inputFile, std::wstring& output);
    // Rewrites the working copy whole, dropping the data no image uses.
    bool _OptimizeWIM();
    // MakePEWithOptions' edits in one run of the WIM tool on the working
    // copy, which is rewritten when it has grown too far since its last
    // rewrite. An image recorded as built from the same inputs is left as it is.
    bool _UpdateInOneRun(const std::vector<std::wstring>& batch, const std::vector<std::wstring>& excluded,
                         BuildInputs& inputs);

    bool _CreateWinpeshlIni(const wchar_t* startupPath, wchar_t* buffer);
    // Copies source, without the PE folder, into stagingFolder with ROBOCOPY;
    // false, logged, on its exit codes 8 and above.
    bool _StageFolder(const std::wstring& source, const std::wstring& stagingFolder);
    bool CopyConfigFiles();

    IProgressSink* m_pSink;
    wchar_t m_szWimPath[pemaker::kPathChars];
    wchar_t m_szPEDir[pemaker::kPathChars];
    wchar_t m_szIsoPath[pemaker::kPathChars];
    BYTE m_bInitialized;
    // The running flow's state, or null outside one. Not owned.
    BuildFlowState* m_pFlow;
};

// The folder "PE" beside the host executable, in a buffer of kPathChars.
void ComposePEFolder(wchar_t* peDir);

// The ISO path that CreateISO writes for outputFolder (null: the PE folder);
// empty when the folder leaves no room for the name.
std::wstring IsoPathFor(const wchar_t* peDir, const wchar_t* outputFolder);

// Whether the command interpreter may change the meaning of text placed in
// one of its command lines: it expands %NAME% even inside quotes.
bool InterpreterMayRewrite(const std::wstring& text);


// An export of a library in the host program's folder, loaded for good; null
// when either is missing.
FARPROC LoadProcFromAppDir(const char* libraryName, const char* procName);
