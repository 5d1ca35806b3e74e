#include "HostSession.h"

#include "LogExcerpt.h"

#include "TarnwickMedia.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace host {
namespace {

typedef bool (*ExtractWinre_Fn)(const wchar_t* targetPath);

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

class Library {
public:
    Library() : m_module(LoadLibraryW((ProgramFolder() + L"TarnwickMedia.dll").c_str())) {}
    ~Library()
    {
        if (m_module) {
            FreeLibrary(m_module);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool loaded() const { return m_module != nullptr; }
    template <typename Fn>
    Fn Export(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }

private:
    HMODULE m_module;
};

int Report(bool ok, const wchar_t* what, const LogExcerpt& log)
{
    if (ok) {
        return kExitSuccess;
    }
    fwprintf(stderr, L"tarnwick: %ls failed\n", what);
    const std::string added = log.Added();
    if (!added.empty()) {
        std::fprintf(stderr, "Log entries of this call (tarnwick.log):\n%s", added.c_str());
    }
    return kExitFailure;
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
        fwprintf(stderr, L"tarnwick: cannot load %lsTarnwickMedia.dll (error %lu)\n", ProgramFolder().c_str(),
                 GetLastError());
        return kExitFailure;
    }
    const LogExcerpt log;
    switch (options.command) {
    case Command::EsdToIso: {
        auto convert = Require<ConvertESDToISO_Fn>(library, "ConvertESDToISO");
        return convert ? Report(convert(options.esd.c_str(), options.iso.c_str()), L"esd-to-iso", log) : kExitFailure;
    }
    case Command::ExtractWinre: {
        auto extract = Require<ExtractWinre_Fn>(library, "ExtractWinreFromRecoveryPartition");
        return extract ? Report(extract(options.winreTarget.c_str()), L"extract-winre", log) : kExitFailure;
    }
    default:
        std::fprintf(stderr, "tarnwick: command not available in this build\n");
        return kExitFailure;
    }
}

}  // namespace host
