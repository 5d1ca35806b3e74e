// Stand-in for oscdimg.exe: journals its calls for tests, and otherwise
// masters the ISO with xorriso: the -b file, or the BIOS and UEFI files of
// -bootdata:2#p0,e,b"F1"#pEF,e,b"F2", as hidden no-emulation El Torito boot
// images, every date set from -t (mm/dd/yyyy,hh:mm:ss), long names kept.
#include "../common/IsoMastering.h"

int wmain()
{
    return standin::RunIsoTool(L"oscdimg", {{L"-b", &standin::IsoRequest::bootImage, true},
                                            {L"-B", &standin::IsoRequest::bootImage, true},
                                            {L"-t", &standin::IsoRequest::stamp, true},
                                            {L"-T", &standin::IsoRequest::stamp, true}});
}
