// Never linked: compiled only so that clang emits, and dumps, the vtables of
// the interfaces that cross a compiler boundary and of an implementation of
// each that the probe defines itself.
#include "TarnwickMedia.h"
#include "TarnwickVolumeFs.h"

class ProbeProgressSink final : public IProgressSink {
public:
    bool OnProgress(const ProgressInfo*) override { return true; }
    bool ShouldContinue() override { return true; }
};

class ProbeVolumeFs final : public IVolumeFsDevice {
public:
    void* DeletingDestructor(unsigned int) override { return this; }
    BOOL ReadLabel(wchar_t*, uint32_t) override { return FALSE; }
    uint32_t ClusterBytes() override { return 0; }
    uint64_t ClusterCount() override { return 0; }
    uint64_t FindFirstFile(const wchar_t*, FsFindData*) override { return 0; }
    BOOL FindNextFile(uint64_t, FsFindData*) override { return FALSE; }
    void FindClose(uint64_t) override {}
    uint64_t OpenFile(const wchar_t*, uint32_t, uint32_t, uint32_t) override { return 0; }
    uint32_t QueryAttributes(const wchar_t*) override { return 0; }
    BOOL ReadFile(uint64_t, void*, uint32_t, uint32_t*) override { return FALSE; }
    BOOL WriteFile(uint64_t, const void*, uint32_t, uint32_t*) override { return FALSE; }
    BOOL SeekFile(uint64_t, uint64_t) override { return FALSE; }
    uint64_t TellFile(uint64_t) override { return 0; }
    BOOL GetFileSize(uint64_t, uint32_t*, uint32_t*) override { return FALSE; }
    void CloseFile(uint64_t) override {}
};

// Constructing the probes makes both ABIs emit their tables and their bases'.
IProgressSink* MakeProbeProgressSink() { return new ProbeProgressSink; }
IVolumeFsDevice* MakeProbeVolumeFs() { return new ProbeVolumeFs; }
