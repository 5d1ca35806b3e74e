#pragma once

#include <windows.h>

#include <string>

// Converts a Windows installation ESD into a bootable installation ISO inside a
// temporary work folder, by running the WIM tool four times and the ISO tool once.
class CESDConverter {
public:
    CESDConverter();
    ~CESDConverter();

    void setWimlibPath(const std::wstring& path);
    void setCdimagePath(const std::wstring& path);
    void enableVerbose();
    // The ISO also boots on UEFI firmware, from the setup media's efisys.bin.
    void enableUefi();
    int getProgress() const;
    std::wstring getStatusMessage() const;

    bool convert(const std::wstring& esdPath, const std::wstring& isoPath, const std::wstring& label);

    bool extractBootFiles(const std::wstring& esdPath, const std::wstring& workDir);
    bool createBootWim(const std::wstring& esdPath, const std::wstring& workDir);
    bool createInstallWim(const std::wstring& esdPath, const std::wstring& workDir);
    bool buildIso(const std::wstring& workDir, const std::wstring& isoPath, const std::wstring& label);

    bool runCommand(const std::wstring& command);
    std::wstring createTempDirectory();
    void removeTempDirectory(const std::wstring& path);

    // Time limit of each tool run. Only tests lower it; it stays at the
    // five-minute constant otherwise.
    static DWORD s_commandTimeoutMs;
    // Ends a timed-out tool: TerminateProcess, which only starts the ending.
    // Tests replace it to make the ending late.
    static BOOL(WINAPI* s_endProcess)(HANDLE process, UINT exitCode);

private:
    void setStage(int progress, const wchar_t* status);
    bool runEchoed(const std::wstring& command);

    std::wstring m_wimlibPath;
    std::wstring m_cdimagePath;
    std::wstring m_statusMessage;
    int m_progress;
    bool m_verbose;
    bool m_uefi;
};
