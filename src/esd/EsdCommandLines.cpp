#include "EsdCommandLines.h"

#include "EsdConstants.h"

namespace esd {
namespace {

const wchar_t kQuiet[] = L" --quiet";

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring WimlibLine(const ToolPaths& tools, const std::wstring& body)
{
    std::wstring line = Quoted(tools.wimlib) + L" " + body;
    if (tools.quiet) {
        line += kQuiet;
    }
    return line;
}

}  // namespace

std::wstring ExtractCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& work)
{
    return WimlibLine(tools, L"extract " + Quoted(esd) + L" 1 --dest-dir=" + Quoted(work) + L" --no-acls");
}

std::wstring ExportWinPeCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& bootWim)
{
    return WimlibLine(tools, L"export " + Quoted(esd) + L" 2 " + Quoted(bootWim) +
                                 L" --compress=LZX --chunk-size 32K");
}

std::wstring ExportSetupCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& bootWim)
{
    return WimlibLine(tools, L"export " + Quoted(esd) + L" 3 " + Quoted(bootWim) +
                                 L" --compress=LZX --chunk-size 32K --boot");
}

std::wstring ExportInstallCommand(const ToolPaths& tools, const std::wstring& esd, const std::wstring& installWim,
                                  unsigned image)
{
    return WimlibLine(tools, L"export " + Quoted(esd) + L" " + std::to_wstring(image) + L" " + Quoted(installWim) +
                                 L" --compress=LZMS --chunk-size 128K");
}

std::wstring InfoCommand(const ToolPaths& tools, const std::wstring& esd)
{
    return Quoted(tools.wimlib) + L" info " + Quoted(esd);
}

std::wstring IsoCommand(const ToolPaths& tools, const std::wstring& work, const std::wstring& iso,
                        const std::wstring& label, const std::wstring& stamp, bool uefi)
{
    const std::wstring bios = Quoted(work + kBiosBootImage);
    const std::wstring boot = uefi ? L" -bootdata:2#p0,e,b" + bios + L"#pEF,e,b" + Quoted(work + kUefiBootImage)
                                   : L" -b" + bios;
    return Quoted(tools.cdimage) + L" -l" + Quoted(label) + L" -t" + stamp + boot + L" -h -n -o -m " +
           Quoted(work) + L" " + Quoted(iso);
}

std::wstring ProgramOf(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == L'"') {
        return commandLine.substr(1, commandLine.find(L'"', 1) - 1);
    }
    return commandLine.substr(0, commandLine.find(L' '));
}

}  // namespace esd
