#include "HostSession.h"

#include "CancelExit.h"
#include "ConsoleSink.h"
#include "LogExcerpt.h"
#include "Preflight.h"
#include "RestartNotice.h"
#include "ResultLine.h"

#include "TarnwickMedia.h"

#include "ProgramFolder.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace host {
namespace {

class Library {
public:
    Library() : m_module(LoadLibraryW((plainwin::ProgramFolder() + L"TarnwickMedia.dll").c_str())) {}

    bool loaded() const { return m_module != nullptr; }
    template <typename Fn>
    Fn Export(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module.get(), name)));
    }

private:
    UniqueModule m_module;
};

int Report(bool ok, const std::wstring& failure, const LogExcerpt& log)
{
    if (ok) {
        return kExitSuccess;
    }
    fwprintf(stderr, L"tarnwick: %ls\nLog file: %ls\n", failure.c_str(), log.path().c_str());
    const std::string added = log.Added();
    if (!added.empty()) {
        std::fprintf(stderr, "Log entries of this call:\n%s", added.c_str());
    }
    return kExitFailure;
}

// The library refuses a build whose boot-disk library cannot be loaded before
// it starts, but neither logs nor reports a failure of its
// CreateWindowsBootDisk; that call comes only after the build's progress
// reached 100.
std::wstring DiskFailure(const std::wstring& disk, bool reachedDiskStage, const std::string& added)
{
    std::wstring text = L"make-pe failed: disk " + disk + L" was not written";
    if (added.find("BuildPE: Boot disk library not available") != std::string::npos) {
        text += L": Discforge.dll or its CreateWindowsBootDisk could not be loaded";
    } else if (reachedDiskStage) {
        text += L": CreateWindowsBootDisk of Discforge.dll returned failure";
    }
    return text;
}

// The records of make-pe that begin its stages: the values between them come
// from inside a stage. Each source ends a stage of its own.
std::vector<int> MakePeStageStarts(size_t sources, bool drivers)
{
    std::vector<int> starts{0, 5, 15};
    for (size_t i = 0; i < sources; ++i) {
        starts.push_back(static_cast<int>(std::min<size_t>(45 * (i + 1) / sources + 40, 85)));
    }
    if (drivers) {
        starts.push_back(89);
    }
    starts.insert(starts.end(), {90, 100});
    return starts;
}

// The messages of the entries a build logs for each driver folder it
// refuses and each INF it skips.
const std::vector<const char*> kUnusableFolderEntries = {
    "BuildPE: Driver folder not found: ", "BuildPE: A drive root cannot be a driver folder: ",
    "BuildPE: Driver folder holds the PE folder: ", "BuildPE: No usable driver package in "};
const char kSkippedInfEntry[] = "BuildPE: Driver package skipped: ";

// From each line of the log that holds one of prefixes, the text from it on,
// or with skipPrefix after it.
std::vector<std::string> EntryMessages(const std::string& log, const std::vector<const char*>& prefixes,
                                       bool skipPrefix)
{
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < log.size()) {
        const size_t end = std::min(log.find('\n', start), log.size());
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        for (const char* prefix : prefixes) {
            const size_t at = line.find(prefix);
            if (at != std::string::npos) {
                messages.push_back(line.substr(skipPrefix ? at + std::strlen(prefix) : at));
                break;
            }
        }
        start = end + 1;
    }
    return messages;
}

template <typename Fn>
Fn Require(const Library& library, const char* name)
{
    Fn function = library.Export<Fn>(name);
    if (!function) {
        std::fprintf(stderr, "tarnwick: TarnwickMedia.dll has no export %s\n", name);
    }
    return function;
}

}  // namespace

int Run(const Options& options)
{
    Library library;
    if (!library.loaded()) {
        fwprintf(stderr, L"tarnwick: cannot load %lsTarnwickMedia.dll (error %lu)\n",
                 plainwin::ProgramFolder().c_str(), GetLastError());
        return kExitUsage;
    }
    const LogExcerpt log;
    switch (options.command) {
    case Command::EsdToIso: {
        auto convert = Require<ConvertESDToISOWithOptions_Fn>(library, "ConvertESDToISOWithOptions");
        if (!convert) {
            return kExitUsage;
        }
        // The library prints each command line before its run, so the bar
        // leaves the cursor at its start for the next line to replace it.
        // Its stages: extraction, boot.wim, install.wim, the ISO.
        ConsoleSink sink(ConsoleSink::kCursorHome, {0, 10, 30, 60, 90, 100});
        EsdIsoOptions esdOptions = {sizeof(EsdIsoOptions), 0, options.edition, 0, &sink};
        esdOptions.flags = (options.uefi ? kEsdIsoUefi : 0) | (options.allEditions ? kEsdIsoAllEditions : 0);
        const bool ok = convert(options.esd.c_str(), options.iso.c_str(), &esdOptions);
        sink.Finish();
        if (!ok && sink.Cancelled()) {
            std::fputs("tarnwick: esd-to-iso cancelled\n", stderr);
            return kExitCancelled;
        }
        return Report(ok, L"esd-to-iso failed", log);
    }
    case Command::ExtractWinre: {
        auto extract = Require<ExtractWinreFromRecoveryPartition_Fn>(library, "ExtractWinreFromRecoveryPartition");
        if (!extract) {
            return kExitUsage;
        }
        // The copy cannot be stopped midway, and what it wrote is no image.
        const CancelExit cancel(kExtractCancelledText, options.winreTarget);
        const bool ok = extract(options.winreTarget.c_str());
        if (ok) {
            PrintLine(MadeLine(kWinreCopied, options.winreTarget, FileSize(options.winreTarget)));
        }
        return Report(ok, L"extract-winre failed", log);
    }
    case Command::MakePe: {
        // The list form, so that the host need not share the DLL's standard library.
        auto makePe = Require<MakePEWithOptions_Fn>(library, "MakePEWithOptions");
        if (!makePe) {
            return kExitUsage;
        }
        const int type = ProductionType(options.deliver);
        std::vector<const wchar_t*> sources;
        for (const std::wstring& source : options.sources) {
            sources.push_back(source.c_str());
        }
        std::vector<const wchar_t*> drivers;
        for (const std::wstring& folder : options.drivers) {
            drivers.push_back(folder.c_str());
        }
        ConsoleSink sink(false, MakePeStageStarts(sources.size(), !drivers.empty()));
        sink.MeasureAtEnd(plainwin::ProgramFolder() + kDiskDeliveryIso);
        MakePEOptions peOptions = {sizeof(MakePEOptions), 0, drivers.data(), static_cast<uint32_t>(drivers.size()), 0,
                                   &sink};
        peOptions.flags = (options.network ? kMakePENetwork : 0) | (options.clean ? kMakePECleanAppFolder : 0);
        const bool ok = makePe(sources.data(), static_cast<uint32_t>(sources.size()), options.startup.c_str(), type,
                               options.target.empty() ? nullptr : options.target.c_str(), &peOptions);
        sink.Finish();
        if (!ok && sink.Cancelled()) {
            std::fputs("tarnwick: make-pe cancelled\n", stderr);
            return kExitCancelled;
        }
        // Every refused driver folder, and on success every INF left out of load.cmd.
        const std::string added = log.Added(std::numeric_limits<size_t>::max());
        if (!ok) {
            for (const std::string& message : EntryMessages(added, kUnusableFolderEntries, false)) {
                std::fprintf(stderr, "tarnwick: %s\n", message.c_str());
            }
        } else {
            for (const std::string& message : EntryMessages(added, {kSkippedInfEntry}, true)) {
                std::printf("skipped: %s\n", message.c_str());
            }
            if (type == kMakePEWriteIso) {
                const std::wstring iso = IsoPathIn(options.target);
                PrintLine(MadeLine(kIsoWritten, iso, FileSize(iso)));
            } else if (type == kMakePEWriteDisk) {
                PrintLine(DiskWrittenLine(std::wcstoul(options.target.c_str(), nullptr, 10), sink.SizeAtEnd()));
            }
        }
        // The library ordered the restart with a delay, within which Ctrl+C
        // still stops it.
        if (ok && type == kMakePERestartToRamdisk) {
            return AwaitRestart(MadeBootEntry(added), [&sink] { return sink.Cancelled(); });
        }
        if (!ok && type == kMakePEWriteDisk) {
            return Report(ok, DiskFailure(options.target, sink.ReachedEnd(), log.Added()), log);
        }
        return Report(ok, L"make-pe failed", log);
    }
    case Command::ConfigureBootWim: {
        auto configure = Require<ConfigureBootWim_Fn>(library, "ConfigureBootWim");
        if (!configure) {
            return kExitUsage;
        }
        ConsoleSink sink;
        const bool ok = configure(&sink);
        sink.Finish();
        if (!ok && sink.Cancelled()) {
            std::fputs("tarnwick: configure-boot-wim cancelled\n", stderr);
            return kExitCancelled;
        }
        if (ok) {
            const std::wstring image = plainwin::ProgramFolder() + kInstalledBootWim;
            PrintLine(MadeLine(kBootWimConfigured, image, FileSize(image)));
        }
        return Report(ok, L"configure-boot-wim failed", log);
    }
    default:
        return kExitUsage;
    }
}

}  // namespace host
