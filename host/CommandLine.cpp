#include "CommandLine.h"

#include "TarnwickMedia.h"

#include <cstdint>
#include <limits>

namespace host {

int ProductionType(const std::wstring& deliver)
{
    if (deliver == L"restart") {
        return kMakePERestartToRamdisk;
    }
    if (deliver == L"iso") {
        return kMakePEWriteIso;
    }
    if (deliver == L"disk") {
        return kMakePEWriteDisk;
    }
    return 0;
}

namespace {

struct CommandName {
    const wchar_t* name;
    Command command;
};
const CommandName kCommands[] = {{L"make-pe", Command::MakePe},
                                 {L"configure-boot-wim", Command::ConfigureBootWim},
                                 {L"esd-to-iso", Command::EsdToIso},
                                 {L"extract-winre", Command::ExtractWinre}};

// The first image of an ESD that holds an edition.
constexpr long long kFirstEdition = 4;

ParseResult Fail(const std::wstring& error)
{
    ParseResult result;
    result.error = error;
    return result;
}

bool IsOption(const std::wstring& arg)
{
    return arg.size() > 1 && arg[0] == L'-';
}

// Decimal digits of a value from 0 to INT_MAX only: the library reads the
// number like _wtoi, which takes a sign and blanks and overflows beyond that,
// so it would write another disk than the one named.
bool IsDecimalUpTo(const std::wstring& text, long long maximum, long long& value)
{
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    value = 0;
    for (const wchar_t digit : text) {
        value = value * 10 + (digit - L'0');
        if (value > maximum) {
            return false;
        }
    }
    return true;
}

bool IsDiskNumber(const std::wstring& text)
{
    long long value = 0;
    return IsDecimalUpTo(text, std::numeric_limits<int>::max(), value);
}

ParseResult ParseMakePe(const std::vector<std::wstring>& args)
{
    ParseResult result;
    Options& options = result.options;
    options.command = Command::MakePe;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool takesValue = arg == L"--deliver" || arg == L"--target" || arg == L"--startup" || arg == L"--driver";
        if (takesValue && i + 1 >= args.size()) {
            return Fail(L"option " + arg + L" needs a value");
        }
        if (arg == L"--deliver") {
            options.deliver = args[++i];
            if (ProductionType(options.deliver) == 0) {
                return Fail(L"--deliver must be restart, iso or disk, not \"" + options.deliver + L"\"");
            }
        } else if (arg == L"--target") {
            options.target = args[++i];
        } else if (arg == L"--startup") {
            options.startup = args[++i];
        } else if (arg == L"--yes") {
            options.yes = true;
        } else if (arg == L"--force") {
            options.force = true;
        } else if (arg == L"--unknown-disk") {
            options.unknownDisk = true;
        } else if (arg == L"--driver") {
            options.drivers.push_back(args[++i]);
        } else if (arg == L"--network") {
            options.network = true;
        } else if (arg == L"--clean") {
            options.clean = true;
        } else if (arg == L"--") {
            options.sources.insert(options.sources.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (IsOption(arg)) {
            return Fail(L"unknown option " + arg + L" for make-pe");
        } else {
            options.sources.push_back(arg);
        }
    }
    if (options.deliver.empty()) {
        return Fail(L"make-pe needs --deliver restart|iso|disk");
    }
    if (options.startup.empty()) {
        return Fail(L"make-pe needs --startup EXE");
    }
    if (options.sources.empty()) {
        return Fail(L"make-pe needs at least one SOURCE file or folder");
    }
    if (options.deliver != L"restart" && options.target.empty()) {
        return Fail(L"--deliver " + options.deliver + L" needs --target");
    }
    if (options.deliver == L"disk" && !IsDiskNumber(options.target)) {
        return Fail(L"--target of --deliver disk must be a disk number from 0 to 2147483647");
    }
    return result;
}

ParseResult ParsePositional(Command command, const std::vector<std::wstring>& args, size_t count,
                            const wchar_t* usage)
{
    for (size_t i = 1; i < args.size(); ++i) {
        if (IsOption(args[i])) {
            return Fail(L"unknown option " + args[i] + L" for " + args[0]);
        }
    }
    if (args.size() - 1 != count) {
        return Fail(std::wstring(L"usage: tarnwick ") + usage);
    }
    ParseResult result;
    result.options.command = command;
    return result;
}

ParseResult ParseEsdToIso(const std::vector<std::wstring>& args)
{
    std::vector<std::wstring> rest;
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--uefi") {
            options.uefi = true;
        } else if (args[i] == L"--force") {
            options.force = true;
        } else if (args[i] == L"--edition") {
            if (i + 1 >= args.size()) {
                return Fail(L"option --edition needs a value");
            }
            const std::wstring& value = args[++i];
            long long image = 0;
            options.allEditions = value == L"all";
            if (!options.allEditions &&
                (!IsDecimalUpTo(value, std::numeric_limits<uint32_t>::max(), image) || image < kFirstEdition)) {
                return Fail(L"--edition must be all or an image number of at least 4, not \"" + value + L"\"");
            }
            options.edition = static_cast<unsigned>(image);
        } else {
            rest.push_back(args[i]);
        }
    }
    ParseResult result =
        ParsePositional(Command::EsdToIso, rest, 2, L"esd-to-iso [--uefi] [--edition N|all] [--force] ESD ISO");
    if (result.error.empty()) {
        options.command = Command::EsdToIso;
        options.esd = rest[1];
        options.iso = rest[2];
        result.options = options;
    }
    return result;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::wstring>& args)
{
    if (args.empty()) {
        return Fail(L"no command given");
    }
    const std::wstring& command = args[0];
    bool helpAsked = command == L"help";
    for (const std::wstring& arg : args) {
        helpAsked = helpAsked || arg == L"--help" || arg == L"-h";
    }
    if (helpAsked) {
        // "help make-pe" as well as "make-pe --help".
        const std::wstring& subject = command == L"help" && args.size() > 1 ? args[1] : command;
        ParseResult result;
        result.options.command = Command::Help;
        for (const CommandName& known : kCommands) {
            if (subject == known.name) {
                result.options.helpFor = known.command;
            }
        }
        return result;
    }
    if (args.size() == 1 && command == L"--version") {
        ParseResult result;
        result.options.command = Command::Version;
        return result;
    }
    if (command == L"make-pe") {
        return ParseMakePe(args);
    }
    if (command == L"configure-boot-wim") {
        return ParsePositional(Command::ConfigureBootWim, args, 0, L"configure-boot-wim");
    }
    if (command == L"esd-to-iso") {
        return ParseEsdToIso(args);
    }
    if (command == L"extract-winre") {
        ParseResult result = ParsePositional(Command::ExtractWinre, args, 1, L"extract-winre TARGET");
        if (result.error.empty()) {
            result.options.winreTarget = args[1];
        }
        return result;
    }
    return Fail(L"unknown command \"" + command + L"\"");
}

}  // namespace host
