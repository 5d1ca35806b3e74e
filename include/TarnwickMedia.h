// Public interface of TarnwickMedia.dll for host applications.
//
// A host either links the import library and calls the functions below, or
// loads the DLL with LoadLibrary and looks them up by their undecorated names
// (the *_Fn typedefs match them). The header can be included from C; a host
// built with another C++ standard library than the DLL's calls
// MakePEFromList instead of MakePE.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
#include <string>
#include <vector>
#define TARNWICK_EXTERN_C extern "C"
#else
#include <stdbool.h>
#define TARNWICK_EXTERN_C
#endif

// The version of this header, the release's MAJOR.MINOR.PATCH. The DLL's
// TarnwickGetVersion returns TARNWICK_VERSION of the header it was built with.
#define TARNWICK_VERSION_MAJOR 1
#define TARNWICK_VERSION_MINOR 0
#define TARNWICK_VERSION_PATCH 0
#define TARNWICK_VERSION ((TARNWICK_VERSION_MAJOR << 16) | (TARNWICK_VERSION_MINOR << 8) | TARNWICK_VERSION_PATCH)

// The DLL exports by its .def file only, so its own build needs no attribute.
#ifdef TARNWICKMEDIA_BUILD
#define TARNWICK_API TARNWICK_EXTERN_C
#else
#define TARNWICK_API TARNWICK_EXTERN_C __declspec(dllimport)
#endif

// One progress or failure record, 312 bytes, little-endian. It is valid only
// during the IProgressSink::OnProgress call that receives it.
typedef struct ProgressInfo {
    uint32_t type;          // always 32
    uint32_t state;         // 2: progress, 3: failure
    uint64_t total;         // 100 for progress, 0 for a failure
    uint64_t current;       // amount done out of total
    uint8_t reserved1[24];  // zero
    uint32_t failed;        // 1 in a failure record
    char message[256];      // zero-terminated, ANSI code page, at most 255 bytes
    uint32_t reserved2;     // zero
} ProgressInfo;

#ifdef __cplusplus
static_assert(sizeof(ProgressInfo) == 312, "ProgressInfo crosses the DLL boundary");
static_assert(offsetof(ProgressInfo, type) == 0, "ProgressInfo::type");
static_assert(offsetof(ProgressInfo, state) == 4, "ProgressInfo::state");
static_assert(offsetof(ProgressInfo, total) == 8, "ProgressInfo::total");
static_assert(offsetof(ProgressInfo, current) == 16, "ProgressInfo::current");
static_assert(offsetof(ProgressInfo, reserved1) == 24, "ProgressInfo::reserved1");
static_assert(offsetof(ProgressInfo, failed) == 48, "ProgressInfo::failed");
static_assert(offsetof(ProgressInfo, message) == 52, "ProgressInfo::message");
static_assert(offsetof(ProgressInfo, reserved2) == 308, "ProgressInfo::reserved2");
#endif

// Implemented by the host. The library depends on the order of the first six
// virtual slots and calls only OnProgress and ShouldContinue; the other four
// belong to the host and keep empty defaults here. There is deliberately no
// virtual destructor: it would take one or two slots depending on the
// compiler and move the ones the library calls. OnProgress's result is
// ignored; a null sink gets no records and never cancels.
#ifdef __cplusplus
class IProgressSink {
public:
    virtual void HostSlot1() {}
    virtual bool OnProgress(const ProgressInfo* info) = 0;
    virtual void HostSlot3() {}
    virtual void HostSlot4() {}
    virtual void HostSlot5() {}
    // false: the user cancelled.
    virtual bool ShouldContinue() = 0;

protected:
    ~IProgressSink() = default;
};
#else
// The same object for C: a structure whose first member points at the six
// slots in the class's order, each taking the sink as its first argument,
// where the x64 convention passes the C++ "this". The four host slots may be
// null. A C sink embeds IProgressSink as its first member.
typedef struct IProgressSink IProgressSink;
typedef struct IProgressSinkVtbl {
    void (*HostSlot1)(IProgressSink* self);
    bool (*OnProgress)(IProgressSink* self, const ProgressInfo* info);
    void (*HostSlot3)(IProgressSink* self);
    void (*HostSlot4)(IProgressSink* self);
    void (*HostSlot5)(IProgressSink* self);
    bool (*ShouldContinue)(IProgressSink* self);  // false: the user cancelled
} IProgressSinkVtbl;
struct IProgressSink {
    const IProgressSinkVtbl* lpVtbl;
};
#endif

// Production types of MakePE.
enum {
    kMakePERestartToRamdisk = 1,  // one-time ramdisk boot entry, then restart
    kMakePEWriteIso = 2,          // "boot.iso" in target (a folder), or in the PE folder when target is null
    kMakePEWriteDisk = 3,         // ISO handed to Discforge.dll, target is the disk number in decimal
};

// Builds a WinPE image from the folder "PE" beside the host executable, with
// the host application (appSources: files and folders; startupExe: the program
// WinPE starts) and delivers it by productionType. Returns false on failure or
// cancellation; details go to the log file and a failure record to sink.
// Its WIM tool is "tools\wimlib-imagex.exe" beside the host executable, else
// in the current directory; oscdimg.exe (ISO and disk) is looked for in the PE
// folder, then in each folder of PATH, never in the current directory.
// The vector must have the DLL's standard-library layout (libstdc++ in the
// mingw-w64 build): a host of another compiler calls MakePEFromList.
#ifdef __cplusplus
TARNWICK_API bool MakePE(const std::vector<std::wstring>* appSources, const wchar_t* startupExe,
                         int productionType, const wchar_t* target, IProgressSink* sink);
typedef bool (*MakePE_Fn)(const std::vector<std::wstring>* appSources, const wchar_t* startupExe,
                          int productionType, const wchar_t* target, IProgressSink* sink);
#endif

// MakePE with the sources as a plain array of count strings: the same flow,
// records, tool runs and log lines. A null entry counts as an empty string;
// a null array or a count of 0 means no sources.
TARNWICK_API bool MakePEFromList(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                 int productionType, const wchar_t* target, IProgressSink* sink);
typedef bool (*MakePEFromList_Fn)(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                  int productionType, const wchar_t* target, IProgressSink* sink);

// Flags of MakePEOptions.
enum {
    kMakePENetwork = 1,         // the application starts once WinPE's network is up
    kMakePECleanAppFolder = 2,  // \TarnwickToolset holds only this build's application and the requirements
};

// Options of MakePEWithOptions. A caller states the size it was built with;
// any other size, or a nonzero reserved, is refused.
typedef struct MakePEOptions {
    uint32_t size;                        // sizeof(MakePEOptions): 32
    uint32_t flags;                       // kMakePENetwork | kMakePECleanAppFolder
    const wchar_t* const* driverFolders;  // driverFolderCount folders of driver packages (at most 99); may be null when the count is 0
    uint32_t driverFolderCount;
    uint32_t reserved;                    // 0
    IProgressSink* sink;                  // may be null: no records, no cancellation
} MakePEOptions;

#ifdef __cplusplus
static_assert(sizeof(MakePEOptions) == 32, "MakePEOptions crosses the DLL boundary");
static_assert(offsetof(MakePEOptions, driverFolders) == 8, "MakePEOptions::driverFolders");
static_assert(offsetof(MakePEOptions, driverFolderCount) == 16, "MakePEOptions::driverFolderCount");
static_assert(offsetof(MakePEOptions, sink) == 24, "MakePEOptions::sink");
#endif

// MakePEFromList with driver packages loaded at WinPE's start, its network,
// a clean application folder, progress inside each stage and a cancellation
// that ends the running tool at once.
TARNWICK_API bool MakePEWithOptions(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                    int productionType, const wchar_t* target, const MakePEOptions* options);
typedef bool (*MakePEWithOptions_Fn)(const wchar_t* const* appSources, uint32_t count, const wchar_t* startupExe,
                                     int productionType, const wchar_t* target, const MakePEOptions* options);

// Adds the optional folders PE\pe_requirements\cef and PE\pe_requirements\system
// to the PE folder's boot WIM. sink may be null.
TARNWICK_API bool ConfigureBootWim(IProgressSink* sink);
typedef bool (*ConfigureBootWim_Fn)(IProgressSink* sink);

// Converts a Windows installation ESD into a bootable installation ISO with
// the volume label "Windows". Its tools are "tools\wimlib-imagex.exe" and
// "tools\cdimage.exe" beside the host's executable, else in the current
// directory, found before any work and started by that full path. Returns
// false on failure; the reason goes to the log file
// "tarnwick.log" in the current directory.
TARNWICK_API bool ConvertESDToISO(const wchar_t* esdPath, const wchar_t* isoPath);
typedef bool (*ConvertESDToISO_Fn)(const wchar_t* esdPath, const wchar_t* isoPath);

// Flags of ConvertESDToISOEx and EsdIsoOptions.
enum {
    kEsdIsoUefi = 1,         // also boot on UEFI firmware, from the setup media's efi\microsoft\boot\efisys.bin
    kEsdIsoAllEditions = 2,  // every edition (images 4 to the last) into install.wim; EsdIsoOptions only
    kEsdIsoQuiet = 4,        // no echo on standard output: the echoed lines go to the log; EsdIsoOptions only
};

// ConvertESDToISO with flags; flags 0 converts exactly as ConvertESDToISO.
// Null paths and unknown flag bits are refused before anything is done.
TARNWICK_API bool ConvertESDToISOEx(const wchar_t* esdPath, const wchar_t* isoPath, uint32_t flags);
typedef bool (*ConvertESDToISOEx_Fn)(const wchar_t* esdPath, const wchar_t* isoPath, uint32_t flags);

// Options of ConvertESDToISOWithOptions, 24 bytes.
typedef struct EsdIsoOptions {
    uint32_t size;        // sizeof(EsdIsoOptions): 24
    uint32_t flags;       // kEsdIsoUefi | kEsdIsoAllEditions | kEsdIsoQuiet
    uint32_t edition;     // 0: image 4, as ConvertESDToISO; N >= 4: image N only; ignored with kEsdIsoAllEditions
    uint32_t reserved;    // 0
    IProgressSink* sink;  // may be null: no records, no cancellation
} EsdIsoOptions;

#ifdef __cplusplus
static_assert(sizeof(EsdIsoOptions) == 24, "EsdIsoOptions crosses the DLL boundary");
static_assert(offsetof(EsdIsoOptions, sink) == 16, "EsdIsoOptions::sink");
#endif

// ConvertESDToISO that a host can show and stop: progress records (0, 10,
// 30, 60, 90, 100 and values in between from the WIM tool's own progress) and
// a failure record go to options->sink, which is asked before each tool run
// and at least every 250 ms during one; a tool is ended only after printing
// nothing for 5 minutes. With kEsdIsoQuiet the inputs and "Command: " lines
// are logged instead of written to standard output, for a host that draws on
// the console; a tool that fails also logs its last output line. Refused
// before anything is done: null or malformed options, null paths, unknown
// flag bits, an edition from 1 to 3.
TARNWICK_API bool ConvertESDToISOWithOptions(const wchar_t* esdPath, const wchar_t* isoPath,
                                             const EsdIsoOptions* options);
typedef bool (*ConvertESDToISOWithOptions_Fn)(const wchar_t* esdPath, const wchar_t* isoPath,
                                              const EsdIsoOptions* options);

// Copies the Windows recovery image winre.wim out of the disk's recovery
// partition (found through "reagentc /info" and read through ravenfs.dll)
// into targetPath, which must not be null. Returns true only when the whole
// image was copied; the reason for a failure goes to "tarnwick.log".
TARNWICK_API bool ExtractWinreFromRecoveryPartition(const wchar_t* targetPath);
typedef bool (*ExtractWinreFromRecoveryPartition_Fn)(const wchar_t* targetPath);

// The DLL's version: MAJOR << 16 | MINOR << 8 | PATCH, as TARNWICK_VERSION.
// A host compares it with the TARNWICK_VERSION it was built with: the same
// major version keeps every declaration above.
TARNWICK_API uint32_t TarnwickGetVersion(void);
typedef uint32_t (*TarnwickGetVersion_Fn)(void);
