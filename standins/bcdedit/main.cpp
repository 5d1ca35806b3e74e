// Stand-in for bcdedit on a simulated boot store: a text file, named by the
// environment variable TWBCDEDIT_STORE or "bcdstore.txt" beside the stand-in,
// with one line per object ("object {id}"), setting ("set {id} ...", also the
// description a /create gives) and one-time boot sequence entry
// ("sequence {id}"); /enum all lists the objects in bcdedit's layout. Every
// call is journalled when tests keep a journal, which can also make any call
// fail.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include "ProgramFolder.h"
#include "common/UniqueHandle.h"

#include <windows.h>
#include <objbase.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring StorePath()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"TWBCDEDIT_STORE", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        return buffer;
    }
    return plainwin::ProgramFolder() + L"bcdstore.txt";
}

const DWORD kOpenAttempts = 100;
const DWORD kOpenRetryMs = 50;

// The previous call's handle on the store may linger for a moment after that
// process has ended, so a sharing violation is retried.
HANDLE OpenStore(const std::wstring& path, DWORD access, DWORD creation)
{
    for (DWORD attempt = 1;; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), access, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || attempt == kOpenAttempts) {
            return file;
        }
        Sleep(kOpenRetryMs);
    }
}

std::vector<std::string> ReadStore(const std::wstring& path)
{
    std::vector<std::string> lines;
    const UniqueHandle file(OpenStore(path, GENERIC_READ, OPEN_EXISTING));
    if (!file.Valid()) {
        return lines;
    }
    std::string bytes;
    plainwin::ReadToEnd(file.Get(), bytes);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        if (end > start) {
            lines.push_back(bytes.substr(start, end - start));
        }
        start = end + 1;
    }
    return lines;
}

bool WriteStore(const std::wstring& path, const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\n";
    }
    const UniqueHandle file(OpenStore(path, GENERIC_WRITE, CREATE_ALWAYS));
    return file.Valid() && plainwin::WriteAll(file.Get(), bytes);
}

std::string Lower(const std::wstring& text)
{
    std::wstring lower = text;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return standin::ToUtf8(lower);
}

bool HasObject(const std::vector<std::string>& store, const std::string& id)
{
    for (const std::string& line : store) {
        if (line == "object " + id) {
            return true;
        }
    }
    return false;
}

std::string NewIdentifier()
{
    GUID guid = {};
    CoCreateGuid(&guid);
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return Lower(text);
}

const size_t kNameWidth = 24;

// The value of "/d" among a /create's arguments; empty when none.
std::string CreatedDescription(const std::vector<std::wstring>& args)
{
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (Lower(args[i]) == "/d") {
            return standin::ToUtf8(args[i + 1]);
        }
    }
    return std::string();
}

std::string Setting(const std::string& name, const std::string& value)
{
    return name + std::string(name.size() < kNameWidth ? kNameWidth - name.size() : 1, ' ') + value + "\r\n";
}

// Each object under its heading, underlined, its identifier first, then its
// settings in the order they were made.
std::string Enumerate(const std::vector<std::string>& store)
{
    std::string listing;
    for (const std::string& line : store) {
        if (line.compare(0, 7, "object ") != 0) {
            continue;
        }
        const std::string id = line.substr(7);
        const std::string heading = id == "{ramdiskoptions}" ? "Setup Ramdisk Options" : "Windows Boot Loader";
        listing += "\r\n" + heading + "\r\n" + std::string(heading.size(), '-') + "\r\n" + Setting("identifier", id);
        const std::string prefix = "set " + id + " ";
        for (const std::string& setting : store) {
            if (setting.compare(0, prefix.size(), prefix) == 0) {
                const std::string rest = setting.substr(prefix.size());
                const size_t space = rest.find(' ');
                listing += Setting(rest.substr(0, space), space == std::string::npos ? "" : rest.substr(space + 1));
            }
        }
    }
    return listing;
}

int Fail(const std::string& message)
{
    standin::WriteStdout("An error occurred while attempting the operation.\r\n" + message + "\r\n");
    return 1;
}

int Apply(const std::vector<std::wstring>& args, std::vector<std::string>& store)
{
    if (args.empty()) {
        return Fail("The parameter is incorrect.");
    }
    const std::string verb = Lower(args[0]);
    if (verb == "/enum") {
        standin::WriteStdout(Enumerate(store));
        return 0;
    }
    if (verb == "/create") {
        const bool named = args.size() >= 2 && args[1].size() > 1 && args[1][0] == L'{';
        const std::string id = named ? Lower(args[1]) : NewIdentifier();
        if (HasObject(store, id)) {
            return Fail("The entry already exists.");
        }
        store.push_back("object " + id);
        const std::string description = CreatedDescription(args);
        if (!description.empty()) {
            store.push_back("set " + id + " description " + description);
        }
        standin::WriteStdout("The entry " + id + " was successfully created.\r\n");
        return 0;
    }
    if (args.size() < 2) {
        return Fail("The parameter is incorrect.");
    }
    const std::string id = Lower(args[1]);
    if (!HasObject(store, id)) {
        return Fail("The system cannot find the file specified.");
    }
    if (verb == "/delete") {
        std::vector<std::string> kept;
        for (const std::string& line : store) {
            const std::string settingPrefix = "set " + id + " ";
            const bool ofObject = line == "object " + id || line.compare(0, settingPrefix.size(), settingPrefix) == 0 ||
                                  line == "sequence " + id;
            if (!ofObject) {
                kept.push_back(line);
            }
        }
        store = kept;
    } else if (verb == "/set" && args.size() >= 4) {
        std::string value;
        for (size_t i = 3; i < args.size(); ++i) {
            value += (i > 3 ? " " : "") + standin::ToUtf8(args[i]);
        }
        store.push_back("set " + id + " " + Lower(args[2]) + " " + value);
    } else if (verb == "/bootsequence") {
        store.push_back("sequence " + id);
    } else {
        return Fail("The parameter is incorrect.");
    }
    standin::WriteStdout("The operation completed successfully.\r\n");
    return 0;
}

int Run(const standin::Invocation& invocation)
{
    const std::wstring path = StorePath();
    std::vector<std::string> store = ReadStore(path);
    const int code = Apply(invocation.args, store);
    if (code == 0 && !WriteStore(path, store)) {
        return Fail("The boot configuration data store could not be written.");
    }
    return code;
}

}  // namespace

int wmain()
{
    return standin::Main(L"bcdedit", Run);
}
