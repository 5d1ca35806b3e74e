#pragma once

#include "TarnwickMedia.h"

#include <windows.h>

#include <string>
#include <vector>

class IsoTarget;
class ToolJob;
class WorkFolderLock;

// Converts a Windows installation ESD into a bootable installation ISO inside a
// temporary work folder, by running the WIM tool four times and the ISO tool once.
class CESDConverter {
public:
    CESDConverter();
    ~CESDConverter();

    void setWimlibPath(const std::wstring& path);
    void setCdimagePath(const std::wstring& path);
    void enableVerbose();
    // The verbose echo goes to the log instead of standard output.
    void echoToLog();
    // The ISO also boots on UEFI firmware, from the setup media's efisys.bin.
    void enableUefi();
    // Runs the tools through runWatchedCommand: their output is read for
    // progress, which goes to sink with the stage values, and sink (may be
    // null) is asked whether to go on before each run and during it.
    void watchTools(IProgressSink* sink);
    // install.wim holds image edition (4 or more) instead of image 4.
    void selectEdition(unsigned edition);
    // install.wim holds every image from 4 to the ESD's last, in order.
    void enableAllEditions();
    // Before any folder or tool, the ESD's header must be a WIM's that holds
    // a Windows edition, and the selected one.
    void checkHeader();
    int getProgress() const;
    std::wstring getStatusMessage() const;
    // Whether the sink stopped the conversion.
    bool wasCancelled() const;

    bool convert(const std::wstring& esdPath, const std::wstring& isoPath, const std::wstring& label);

    bool extractBootFiles(const std::wstring& esdPath, const std::wstring& workDir);
    bool createBootWim(const std::wstring& esdPath, const std::wstring& workDir);
    bool createInstallWim(const std::wstring& esdPath, const std::wstring& workDir);
    // The ISO tool writes beside the target, which the complete ISO then replaces.
    bool buildIso(const std::wstring& workDir, IsoTarget& target, const std::wstring& label);

    bool runCommand(const std::wstring& command);
    // runCommand with the tool's output captured instead of passed on: ended
    // when it has printed nothing for the time limit, or when the sink, asked
    // every kCancelCheckMs while it runs, says stop.
    bool runWatchedCommand(const std::wstring& command);
    // The full path a tool path names where it is run from; empty when none is a file.
    static std::wstring toolProgram(const std::wstring& tool);
    // A new work folder whose lock file lock holds, or the empty string.
    std::wstring createTempDirectory(WorkFolderLock& lock);
    void removeTempDirectory(const std::wstring& path);

    // Time limit of each tool run (of silence, for a watched run). Only tests
    // lower it; it stays at the five-minute constant otherwise.
    static DWORD s_commandTimeoutMs;

private:
    // Where the WIM tool's percentages of the current run land: run index of
    // runs in the stage from start to next (exclusive). runs 0: nowhere.
    struct RunSpan {
        int start;
        int next;
        unsigned runs;
        unsigned index;
    };

    void setStage(int progress, const wchar_t* status);
    bool stopped();
    bool goOn();
    void report(int value);
    void onToolLine(const std::wstring& line);
    void echo(const wchar_t* prefix, const std::wstring& text);
    bool runEchoed(const std::wstring& command);
    bool runAsked(const std::wstring& command);
    bool headerHoldsEdition(const std::wstring& esdPath);
    bool exportEditions(const std::wstring& esdPath, const std::wstring& installWim);
    bool isoFolderAndToolsFound(const std::wstring& isoPath);
    bool startTool(ToolJob& job, std::vector<wchar_t>& commandLine, const STARTUPINFOW& startup,
                   PROCESS_INFORMATION& info);
    bool timedOut(ToolJob& job);
    bool finishRun(HANDLE process, const std::vector<wchar_t>& commandLine);

    std::wstring m_wimlibPath;
    std::wstring m_cdimagePath;
    std::wstring m_statusMessage;
    int m_progress;
    bool m_verbose;
    bool m_echoToLog;
    bool m_uefi;
    bool m_watched;
    bool m_allEditions;
    bool m_checkHeader;
    bool m_cancelled;
    bool m_countingImages;
    unsigned m_edition;
    unsigned m_imageCount;
    int m_reported;
    IProgressSink* m_sink;
    RunSpan m_span;
    // The last non-empty line of the watched run's output, which names the
    // cause when the tool fails.
    std::wstring m_lastLine;
};
