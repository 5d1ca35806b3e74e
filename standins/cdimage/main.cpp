// Stand-in for cdimage.exe: journals its calls for tests, and otherwise
// masters the ISO with xorriso: -l label, -t timestamp, -b boot sector, or
// the BIOS and UEFI files of -bootdata:2#p0,e,b"F1"#pEF,e,b"F2", as
// no-emulation El Torito images, long names; -h, -n, -o and -m need nothing.
#include "../common/IsoMastering.h"
#include "../common/Standin.h"

int wmain()
{
    const standin::Invocation invocation = standin::CaptureInvocation(L"cdimage");
    unsigned long exitCode = 0;
    if (standin::AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }

    standin::IsoRequest request;
    std::vector<std::wstring> paths;
    for (const std::wstring& arg : invocation.args) {
        if (arg.compare(0, 10, L"-bootdata:") == 0) {
            if (!standin::ParseBootData(arg.substr(10), request)) {
                standin::WriteStdout("cdimage: bad -bootdata\r\n");
                return 1;
            }
        } else if (arg.compare(0, 2, L"-l") == 0) {
            request.label = arg.substr(2);
        } else if (arg.compare(0, 2, L"-t") == 0) {
            request.stamp = arg.substr(2);
        } else if (arg.compare(0, 2, L"-b") == 0) {
            request.bootImage = arg.substr(2);
        } else if (arg.empty() || arg[0] != L'-') {
            paths.push_back(arg);
        }
    }
    return standin::MasterIso(invocation, request, paths);
}
