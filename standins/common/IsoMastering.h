#pragma once

#include <string>
#include <vector>

// What the ISO stand-ins ask of xorriso, in Windows terms.
namespace standin {

struct IsoRequest {
    std::wstring root;       // folder whose tree becomes the ISO
    std::wstring iso;        // file to write
    std::wstring label;      // volume label, or empty
    std::wstring stamp;      // "mm/dd/yyyy,hh:mm:ss" for every date, or empty
    std::wstring bootImage;  // BIOS no-emulation El Torito boot image, or empty
    std::wstring efiImage;   // UEFI (platform 0xEF) no-emulation boot image, or empty
};

// The value of -bootdata: after the colon, quotes already removed by the
// command-line parsing: "2#p0,e,bF1#pEF,e,bF2" gives F1 as the BIOS and F2 as
// the UEFI image. False when malformed or naming another platform or mode.
bool ParseBootData(const std::wstring& value, IsoRequest& request);

// "07/09/2021,17:30:00" as xorriso's "2021070917300000"; empty when malformed.
std::string XorrisoDate(const std::wstring& stamp);

// The xorriso command line, Joliet with long names and Rock Ridge. A boot
// image inside the tree is used where it lies; one outside it is added to
// the image hidden, so the tree stays as it is. Empty when the stamp is
// malformed.
std::vector<std::string> XorrisoArgv(const IsoRequest& request);

// An option of an ISO tool: its name and the request field that takes the rest
// of the argument. With valueRequired the bare name is no option.
struct IsoOption {
    const wchar_t* name;
    std::wstring IsoRequest::*field;
    bool valueRequired;
};

// The whole of an ISO stand-in's wmain. A call the journal does not answer
// is mastered: -bootdata: and the tool's options go into the request, other
// options are ignored, and the arguments left must be the source folder and
// the image file. A call the journal answers with success leaves an empty
// image file where none is, as the real tool's success would. Returns the
// exit code.
int RunIsoTool(const wchar_t* tool, const std::vector<IsoOption>& options);

}  // namespace standin
