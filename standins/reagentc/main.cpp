// Stand-in for reagentc.exe: journals its calls for tests, which script the
// report through the journal's response; otherwise prints the report of an
// enabled recovery environment on disk 0, partition 4.
#include "../common/Standin.h"

namespace {

const char* const kEnabledReport =
    "\r\n"
    "Windows Recovery Environment (Windows RE) and system reset configuration\r\n"
    "Information:\r\n"
    "\r\n"
    "    Windows RE status:         Enabled\r\n"
    "    Windows RE location:       \\\\?\\GLOBALROOT\\device\\harddisk0\\partition4\\Recovery\\WindowsRE\r\n"
    "    Boot Configuration Data (BCD) identifier: 7a3c4e21-5d0f-11ee-8c99-0800200c9a66\r\n"
    "    Recovery image location:   \r\n"
    "    Recovery image index:      0\r\n"
    "    Custom image location:     \r\n"
    "    Custom image index:        0\r\n"
    "\r\n"
    "REAGENTC.EXE: Operation Successful.\r\n"
    "\r\n";

int Report(const standin::Invocation&)
{
    standin::WriteStdout(kEnabledReport);
    return 0;
}

}  // namespace

int wmain()
{
    return standin::Main(L"reagentc", Report);
}
