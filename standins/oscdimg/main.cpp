// Stand-in for oscdimg.exe: journals its calls for tests, and otherwise
// masters the ISO with xorriso: the -b file, or the BIOS and UEFI files of
// -bootdata:2#p0,e,b"F1"#pEF,e,b"F2", as hidden no-emulation El Torito boot
// images, every date set from -t (mm/dd/yyyy,hh:mm:ss), long names kept.
#include "../common/IsoMastering.h"
#include "../common/Standin.h"

int wmain()
{
    const standin::Invocation invocation = standin::CaptureInvocation(L"oscdimg");
    unsigned long exitCode = 0;
    if (standin::AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }

    standin::IsoRequest request;
    std::vector<std::wstring> paths;
    for (const std::wstring& arg : invocation.args) {
        if (arg.compare(0, 10, L"-bootdata:") == 0) {
            if (!standin::ParseBootData(arg.substr(10), request)) {
                standin::WriteStdout("oscdimg: bad -bootdata\r\n");
                return 1;
            }
        } else if (arg.size() > 2 && (arg.compare(0, 2, L"-b") == 0 || arg.compare(0, 2, L"-B") == 0)) {
            request.bootImage = arg.substr(2);
        } else if (arg.size() > 2 && (arg.compare(0, 2, L"-t") == 0 || arg.compare(0, 2, L"-T") == 0)) {
            request.stamp = arg.substr(2);
        } else if (arg.empty() || arg[0] != L'-') {
            paths.push_back(arg);
        }
    }
    return standin::MasterIso(invocation, request, paths);
}
