#include "IsoMastering.h"

#include "Standin.h"
#include "UnixBridge.h"

#include "FileText.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace standin {
namespace {

const char kHiddenBootName[] = "etfsboot.com";
const char kHiddenEfiName[] = "efisys.bin";
const char kCatalogName[] = "boot.catalog";

// One -bootdata entry, "pXX,e,bFILE": the platform and the file. The file
// comes last and may hold commas.
bool ParseBootEntry(const std::wstring& entry, std::wstring& platform, std::wstring& file)
{
    bool noEmulation = false;
    size_t pos = 0;
    while (pos < entry.size() && entry[pos] != L'b') {
        const size_t comma = entry.find(L',', pos);
        if (comma == std::wstring::npos) {
            return false;
        }
        const std::wstring option = entry.substr(pos, comma - pos);
        if (option == L"e") {
            noEmulation = true;
        } else if (option.size() > 1 && option[0] == L'p') {
            platform = option.substr(1);
        } else {
            return false;
        }
        pos = comma + 1;
    }
    file = pos < entry.size() ? entry.substr(pos + 1) : std::wstring();
    return noEmulation && !platform.empty() && !file.empty();
}

// The path a boot image has in the ISO: where it lies when inside the tree,
// else hiddenName, grafted from outside and hidden.
std::string BootImageInIso(const std::string& root, const std::wstring& image, const char* hiddenName,
                           std::vector<std::string>& hiding, std::vector<std::string>& grafts)
{
    const std::string path = TranslateArg(image);
    if (path.compare(0, root.size() + 1, root + "/") == 0) {
        return path.substr(root.size() + 1);
    }
    hiding.insert(hiding.end(), {"-hide", hiddenName, "-hide-joliet", hiddenName});
    grafts.push_back(std::string("/") + hiddenName + "=" + path);
    return hiddenName;
}

}  // namespace

bool ParseBootData(const std::wstring& value, IsoRequest& request)
{
    const size_t hash = value.find(L'#');
    if (hash == 0 || hash == std::wstring::npos ||
        value.find_first_not_of(L"0123456789") != hash) {
        return false;
    }
    const unsigned long count = wcstoul(value.c_str(), nullptr, 10);
    unsigned long entries = 0;
    size_t start = hash + 1;
    while (start <= value.size()) {
        const size_t next = value.find(L"#p", start);
        const size_t end = next == std::wstring::npos ? value.size() : next;
        std::wstring platform;
        std::wstring file;
        if (!ParseBootEntry(value.substr(start, end - start), platform, file)) {
            return false;
        }
        std::wstring* slot = nullptr;
        if (platform == L"0") {
            slot = &request.bootImage;
        } else if (platform == L"EF" || platform == L"ef") {
            slot = &request.efiImage;
        }
        if (!slot || !slot->empty()) {
            return false;
        }
        *slot = file;
        ++entries;
        start = end + 1;
    }
    return entries == count;
}

std::string XorrisoDate(const std::wstring& stamp)
{
    unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (swscanf(stamp.c_str(), L"%u/%u/%u,%u:%u:%u", &month, &day, &year, &hour, &minute, &second) != 6) {
        return std::string();
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%04u%02u%02u%02u%02u%02u00", year, month, day, hour, minute, second);
    return text;
}

std::vector<std::string> XorrisoArgv(const IsoRequest& request)
{
    const std::string root = TranslateArg(request.root);
    std::vector<std::string> argv{"xorriso", "-as", "mkisofs", "-quiet", "-iso-level", "3", "-J", "-joliet-long",
                                  "-R", "-graft-points", "-o", TranslateArg(request.iso)};
    if (!request.label.empty()) {
        argv.insert(argv.end(), {"-V", ToUtf8(request.label)});
    }
    if (!request.stamp.empty()) {
        const std::string date = XorrisoDate(request.stamp);
        if (date.empty()) {
            return std::vector<std::string>();
        }
        argv.insert(argv.end(), {"--set_all_file_dates", date, "--modification-date=" + date});
    }
    std::vector<std::string> hiding;
    std::vector<std::string> grafts;
    std::vector<std::string> boot;
    if (!request.bootImage.empty()) {
        boot.insert(boot.end(), {"-b", BootImageInIso(root, request.bootImage, kHiddenBootName, hiding, grafts),
                                 "-no-emul-boot"});
    }
    if (!request.efiImage.empty()) {
        if (!boot.empty()) {
            boot.push_back("-eltorito-alt-boot");
        }
        boot.insert(boot.end(), {"-e", BootImageInIso(root, request.efiImage, kHiddenEfiName, hiding, grafts),
                                 "-no-emul-boot"});
    }
    if (!boot.empty()) {
        argv.insert(argv.end(), hiding.begin(), hiding.end());
        argv.insert(argv.end(), {"-c", kCatalogName, "-hide", kCatalogName, "-hide-joliet", kCatalogName});
        argv.insert(argv.end(), boot.begin(), boot.end());
    }
    argv.push_back("/=" + root);
    argv.insert(argv.end(), grafts.begin(), grafts.end());
    return argv;
}

namespace {

bool TakeOption(const std::wstring& arg, const std::vector<IsoOption>& options, IsoRequest& request)
{
    for (const IsoOption& option : options) {
        const size_t length = std::wcslen(option.name);
        if (arg.compare(0, length, option.name) == 0 && (!option.valueRequired || arg.size() > length)) {
            request.*option.field = arg.substr(length);
            return true;
        }
    }
    return false;
}

// The request of a call; empty when it holds one, else why not.
std::string ParseCall(const Invocation& invocation, const std::vector<IsoOption>& options, IsoRequest& request)
{
    std::vector<std::wstring> paths;
    for (const std::wstring& arg : invocation.args) {
        if (arg.compare(0, 10, L"-bootdata:") == 0) {
            if (!ParseBootData(arg.substr(10), request)) {
                return "bad -bootdata";
            }
        } else if (!TakeOption(arg, options, request) && (arg.empty() || arg[0] != L'-')) {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        return "expected a source folder and an image file";
    }
    request.root = paths[0];
    request.iso = paths[1];
    return std::string();
}

int MasterIso(const Invocation& invocation, const std::vector<IsoOption>& options)
{
    const std::string tool = ToUtf8(invocation.tool);
    IsoRequest request;
    const std::string problem = ParseCall(invocation, options, request);
    if (!problem.empty()) {
        WriteStdout(tool + ": " + problem + "\r\n");
        return 1;
    }
    const std::vector<std::string> argv = XorrisoArgv(request);
    if (argv.empty()) {
        WriteStdout(tool + ": bad time stamp\r\n");
        return 1;
    }
    return static_cast<int>(RunReal(argv, invocation, std::string()));
}

}  // namespace

int RunIsoTool(const wchar_t* tool, const std::vector<IsoOption>& options)
{
    // One a test already wrote is kept.
    const auto writeImage = [&options](const Invocation& invocation) {
        IsoRequest request;
        if (ParseCall(invocation, options, request).empty()) {
            plainwin::WriteNewFile(request.iso, std::string());
        }
    };
    return Main(tool, [&options](const Invocation& invocation) { return MasterIso(invocation, options); },
                Answered(writeImage));
}

}  // namespace standin
