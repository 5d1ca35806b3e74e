// Stand-in for cdimage.exe: journals its calls for tests, and otherwise
// masters the ISO with xorriso: -l label, -t timestamp, -b boot sector, or
// the BIOS and UEFI files of -bootdata:2#p0,e,b"F1"#pEF,e,b"F2", as
// no-emulation El Torito images, long names; -h, -n, -o and -m need nothing.
// A journalled success leaves an image, which the converter moves into place.
#include "../common/IsoMastering.h"

int wmain()
{
    return standin::RunIsoTool(L"cdimage",
                               {{L"-l", &standin::IsoRequest::label, false},
                                {L"-t", &standin::IsoRequest::stamp, false},
                                {L"-b", &standin::IsoRequest::bootImage, false}});
}
