#include "InfPackage.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>
#include <vector>

namespace drivers {
namespace {

const char kNoCatalogue[] = "no catalogue named in [Version]";
const char kCatalogueMissing[] = "catalogue file missing: ";
const char kNoAmd64Models[] = "no NTamd64 models in [Manufacturer]";
const char kSourceMissing[] = "source file missing: ";
// The most specific key the system would read first.
const wchar_t* const kCatalogueKeys[] = {L"catalogfile.ntamd64", L"catalogfile.nt", L"catalogfile"};
const wchar_t* const kDiskSections[] = {L"sourcedisksnames", L"sourcedisksnames.amd64"};
const wchar_t* const kFileSections[] = {L"sourcedisksfiles", L"sourcedisksfiles.amd64"};
const wchar_t kAmd64Decoration[] = L"ntamd64";

struct Entry {
    std::wstring key;  // as written; empty for a line without "="
    std::vector<std::wstring> fields;
};
using Sections = std::map<std::wstring, std::vector<Entry>>;

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

// The line without its comment; a ';' inside quotes is text.
std::wstring WithoutComment(const std::wstring& line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
        } else if (line[i] == L';' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
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
        std::wstring line = Trim(WithoutComment(text.substr(start, end - start)));
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
        const size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) {
            entry.key = Trim(line.substr(0, equals));
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
std::wstring Join(std::initializer_list<std::wstring> parts)
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

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (const wchar_t c : text) {
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

bool IsAmd64Decoration(const std::wstring& decoration)
{
    const std::wstring lower = Lower(decoration);
    const size_t length = std::wcslen(kAmd64Decoration);
    return lower.compare(0, length, kAmd64Decoration) == 0 && (lower.size() == length || lower[length] == L'.');
}

}  // namespace

std::string UnusableReason(const std::wstring& infText, const FileExists& exists)
{
    const Sections sections = Parse(infText);

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
    if (!exists(catalogue)) {
        return kCatalogueMissing + Narrow(catalogue);
    }

    bool amd64 = false;
    for (const Entry& entry : Section(sections, L"manufacturer")) {
        for (size_t i = 1; i < entry.fields.size(); ++i) {
            amd64 = amd64 || IsAmd64Decoration(entry.fields[i]);
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
    for (const wchar_t* name : kFileSections) {
        for (const Entry& entry : Section(sections, name)) {
            const std::wstring disk = Lower(Field(entry, 0));
            const auto found = diskPaths.find(disk);
            const std::wstring path =
                Join({found == diskPaths.end() ? std::wstring() : found->second, Field(entry, 1), entry.key});
            if (!entry.key.empty() && !exists(path)) {
                return kSourceMissing + Narrow(path);
            }
        }
    }
    return std::string();
}

}  // namespace drivers
