#include "InfPackage.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <map>
#include <vector>

namespace drivers {
namespace {

const char kNotText[] = "INF is not readable text";
const char kNetworkService[] = "network service packages are installed by netcfg, not drvload";
const char kNoCatalogue[] = "no catalogue named in [Version]";
const char kCatalogueMissing[] = "catalogue file missing: ";
const char kNoAmd64Models[] = "no NTamd64 models in [Manufacturer]";
const char kNoModelsSection[] = "no NTamd64 models section: ";
const char kSourceMissing[] = "source file missing: ";
const char kOutside[] = "file outside the package folder: ";
const char kUndefinedToken[] = "undefined string token: ";
const char kTokensTooLong[] = "string tokens expand beyond 1048576 characters";
// All that %tokens% may add to one INF's names: a bound on the time and
// memory that a hostile [Strings] can make the check take.
constexpr size_t kMaxExpansion = 1 << 20;

const char kUtf16Bom[] = "\xFF\xFE";
const char kUtf8Bom[] = "\xEF\xBB\xBF";
const wchar_t kReplacement = 0xFFFD;

// The most specific key the system would read first.
const wchar_t* const kCatalogueKeys[] = {L"catalogfile.ntamd64", L"catalogfile.nt", L"catalogfile"};
const wchar_t* const kNetworkClasses[] = {L"netservice", L"nettrans", L"netclient"};
// The platform's section after the undecorated one, whose entries it replaces.
const wchar_t* const kDiskSections[] = {L"sourcedisksnames", L"sourcedisksnames.amd64"};
const wchar_t* const kFileSections[] = {L"sourcedisksfiles", L"sourcedisksfiles.amd64"};
const wchar_t kAmd64Decoration[] = L"ntamd64";

struct Entry {
    std::wstring key;  // unquoted; empty for a line without "="
    std::vector<std::wstring> fields;
};
using Sections = std::map<std::wstring, std::vector<Entry>>;

// Well-formed UTF-8 as UTF-16 code units, each other byte as U+FFFD.
void AppendUtf8(const std::string& bytes, size_t at, std::wstring& text)
{
    while (at < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[at]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        uint32_t code = length == 1 ? lead : lead & (0xFFu >> (length + 1));
        size_t taken = length == 0 ? 0 : 1;
        while (taken > 0 && taken < length && at + taken < bytes.size() &&
               (static_cast<unsigned char>(bytes[at + taken]) & 0xC0) == 0x80) {
            code = code << 6 | (static_cast<unsigned char>(bytes[at + taken]) & 0x3F);
            ++taken;
        }
        const uint32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        if (length == 0 || taken < length || code < least || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) {
            text += kReplacement;
            ++at;
            continue;
        }
        if (code < 0x10000) {
            text += static_cast<wchar_t>(code);
        } else {
            text += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        at += length;
    }
}

// UTF-16 code units on every platform, so that the checks read the same text
// natively and on Windows. 8-bit text is read as Latin-1: the grammar is ASCII.
bool Decode(const std::string& bytes, std::wstring& text)
{
    if (bytes.compare(0, 2, kUtf16Bom) == 0) {
        if (bytes.size() % 2 != 0) {
            return false;
        }
        for (size_t i = 2; i < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
    } else if (bytes.compare(0, 3, kUtf8Bom) == 0) {
        AppendUtf8(bytes, 3, text);
    } else {
        for (const char c : bytes) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
    }
    // A NUL ends a name for the file system: what follows would not be checked.
    return text.find(L'\0') == std::wstring::npos;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::wstring Trim(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// Where c first stands outside quotes; npos when it does not.
size_t FindUnquoted(const std::wstring& line, wchar_t c)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
        } else if (line[i] == c && !quoted) {
            return i;
        }
    }
    return std::wstring::npos;
}

// Comma-separated fields, trimmed, with their quotes dropped.
std::vector<std::wstring> Fields(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    std::wstring field;
    bool quoted = false;
    for (const wchar_t c : text + L",") {
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L',' && !quoted) {
            fields.push_back(Trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    return fields;
}

Sections Parse(const std::wstring& text)
{
    Sections sections;
    std::vector<Entry>* current = nullptr;
    std::wstring pending;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(L'\n', start), text.size());
        const std::wstring physical = text.substr(start, end - start);
        std::wstring line = Trim(physical.substr(0, FindUnquoted(physical, L';')));
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') {
            line = Trim(line.substr(0, line.size() - 1));
        }
        // A backslash at the end carries the line on.
        if (!line.empty() && line.back() == L'\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = Trim(pending + line);
        pending.clear();
        if (line.empty()) {
            continue;
        }
        if (line.front() == L'[') {
            const size_t close = line.find(L']');
            current = &sections[Lower(Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)))];
            continue;
        }
        if (!current) {
            continue;
        }
        Entry entry;
        const size_t equals = FindUnquoted(line, L'=');
        if (equals != std::wstring::npos) {
            const std::vector<std::wstring> key = Fields(line.substr(0, equals));
            entry.key = key.front();
            entry.fields = Fields(line.substr(equals + 1));
        } else {
            entry.fields = Fields(line);
        }
        current->push_back(entry);
    }
    return sections;
}

const std::vector<Entry>& Section(const Sections& sections, const std::wstring& name)
{
    static const std::vector<Entry> none;
    const auto found = sections.find(name);
    return found == sections.end() ? none : found->second;
}

std::wstring Field(const Entry& entry, size_t index)
{
    return index < entry.fields.size() ? entry.fields[index] : std::wstring();
}

// Parts joined by one backslash, empty parts and the parts' own outer ones dropped.
std::wstring Join(const std::vector<std::wstring>& parts)
{
    std::wstring path;
    for (const std::wstring& part : parts) {
        const size_t first = part.find_first_not_of(L"\\/");
        if (first == std::wstring::npos) {
            continue;
        }
        const std::wstring inner = part.substr(first, part.find_last_not_of(L"\\/") - first + 1);
        path += (path.empty() ? L"" : L"\\") + inner;
    }
    return path;
}

// The path with "." and ".." gone, but for at most climb leading ".."; false
// when it climbs further. Windows drops a name's trailing blanks, and more
// dots alone are read as "..": no file can lie in a folder named so.
bool Resolve(const std::wstring& path, unsigned climb, std::wstring& resolved)
{
    std::vector<std::wstring> names;
    unsigned climbed = 0;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find_first_of(L"\\/", start), path.size());
        const std::wstring name = path.substr(start, end - start);
        start = end + 1;
        const std::wstring bare = name.substr(0, name.find_last_not_of(L' ') + 1);
        if (bare.empty() || bare == L".") {
            continue;
        }
        if (bare.find_first_not_of(L'.') != std::wstring::npos) {
            names.push_back(bare);
        } else if (!names.empty()) {
            names.pop_back();
        } else if (climbed < climb) {
            ++climbed;
        } else {
            return false;
        }
    }
    resolved.clear();
    for (unsigned up = 0; up < climbed; ++up) {
        resolved += up == 0 ? L".." : L"\\..";
    }
    for (const std::wstring& name : names) {
        resolved += (resolved.empty() ? L"" : L"\\") + name;
    }
    return true;
}

// Printable ASCII, so that a reason stays one line of the log.
std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (const wchar_t c : text) {
        narrow += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return narrow;
}

bool IsAmd64Decoration(const std::wstring& decoration)
{
    const std::wstring lower = Lower(decoration);
    const size_t length = std::wcslen(kAmd64Decoration);
    return lower.compare(0, length, kAmd64Decoration) == 0 && (lower.size() == length || lower[length] == L'.');
}

// The INF's names with the %tokens% of its undecorated [Strings] replaced.
class Names {
public:
    Names(const Sections& sections, unsigned depth) : depth_(depth)
    {
        for (const Entry& entry : Section(sections, L"strings")) {
            strings_[Lower(entry.key)] = Field(entry, 0);
        }
    }

    // The reason why the file that these parts name is unusable; empty when
    // it lies in the package folder, in relative.
    std::string Path(std::vector<std::wstring> parts, std::wstring& relative)
    {
        for (std::wstring& part : parts) {
            std::wstring expanded;
            std::string reason = Expand(part, expanded);
            if (!reason.empty()) {
                return reason;
            }
            part = expanded;
        }
        const std::wstring joined = Join(parts);
        return Resolve(joined, depth_, relative) ? std::string() : kOutside + Narrow(joined);
    }

private:
    // The reason why text cannot be resolved; empty when it can, in expanded.
    std::string Expand(const std::wstring& text, std::wstring& expanded)
    {
        expanded.clear();
        size_t at = 0;
        for (;;) {
            const size_t open = text.find(L'%', at);
            const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
            if (close == std::wstring::npos) {
                expanded += text.substr(at);
                return std::string();
            }
            expanded += text.substr(at, open - at);
            const std::wstring token = text.substr(open, close - open + 1);
            at = close + 1;
            // "%%" is a percent sign.
            if (token.size() == 2) {
                expanded += L'%';
                continue;
            }
            const auto found = strings_.find(Lower(token.substr(1, token.size() - 2)));
            if (found == strings_.end()) {
                return kUndefinedToken + Narrow(token);
            }
            if (found->second.size() > budget_) {
                return kTokensTooLong;
            }
            budget_ -= found->second.size();
            expanded += found->second;
        }
    }

    std::map<std::wstring, std::wstring> strings_;
    // How many folders the INF lies below the package folder.
    unsigned depth_;
    size_t budget_ = kMaxExpansion;
};

}  // namespace

std::string UnusableReason(const std::string& infBytes, const FileExists& exists, unsigned depth)
{
    std::wstring text;
    if (!Decode(infBytes, text)) {
        return kNotText;
    }
    const Sections sections = Parse(text);
    Names names(sections, depth);

    for (const Entry& entry : Section(sections, L"version")) {
        const std::wstring value = Lower(Field(entry, 0));
        if (Lower(entry.key) == L"class" &&
            std::any_of(std::begin(kNetworkClasses), std::end(kNetworkClasses),
                        [&value](const wchar_t* name) { return value == name; })) {
            return kNetworkService;
        }
    }

    std::wstring catalogue;
    for (const wchar_t* key : kCatalogueKeys) {
        for (const Entry& entry : Section(sections, L"version")) {
            if (catalogue.empty() && Lower(entry.key) == key) {
                catalogue = Field(entry, 0);
            }
        }
    }
    if (catalogue.empty()) {
        return kNoCatalogue;
    }
    std::wstring path;
    std::string reason = names.Path({catalogue}, path);
    if (!reason.empty()) {
        return reason;
    }
    if (!exists(path)) {
        return kCatalogueMissing + Narrow(path);
    }

    bool amd64 = false;
    for (const Entry& entry : Section(sections, L"manufacturer")) {
        for (size_t i = 1; i < entry.fields.size(); ++i) {
            if (!IsAmd64Decoration(entry.fields[i])) {
                continue;
            }
            amd64 = true;
            const std::wstring models = Field(entry, 0) + L"." + entry.fields[i];
            if (Section(sections, Lower(models)).empty()) {
                return kNoModelsSection + Narrow(models);
            }
        }
    }
    if (!amd64) {
        return kNoAmd64Models;
    }

    std::map<std::wstring, std::wstring> diskPaths;
    for (const wchar_t* name : kDiskSections) {
        for (const Entry& entry : Section(sections, name)) {
            diskPaths[Lower(entry.key)] = Field(entry, 3);
        }
    }
    // Each file's last entry, in the order the files first appear.
    std::vector<const Entry*> files;
    std::map<std::wstring, size_t> fileIndex;
    for (const wchar_t* name : kFileSections) {
        for (const Entry& entry : Section(sections, name)) {
            if (entry.key.empty()) {
                continue;
            }
            const auto added = fileIndex.emplace(Lower(entry.key), files.size());
            if (added.second) {
                files.push_back(&entry);
            } else {
                files[added.first->second] = &entry;
            }
        }
    }
    for (const Entry* file : files) {
        const auto disk = diskPaths.find(Lower(Field(*file, 0)));
        reason = names.Path({disk == diskPaths.end() ? std::wstring() : disk->second, Field(*file, 1), file->key}, path);
        if (!reason.empty()) {
            return reason;
        }
        if (!exists(path)) {
            return kSourceMissing + Narrow(path);
        }
    }
    return std::string();
}

}  // namespace drivers
