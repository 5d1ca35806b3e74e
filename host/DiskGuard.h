#pragma once

#include <string>

// What tarnwick settles before --deliver disk erases a disk: that the disk
// exists and can be identified, that it is not write-protected or too small
// for the boot image alone, that it holds no volume the running system
// needs, and that the user said yes.
namespace host {

enum class Holds { No, Yes, Unknown };

// What the disk's queries answered; an error is 0 where the query succeeded.
struct DiskFacts {
    unsigned long number = 0;
    std::string model;  // empty when not reported
    std::string bus;    // empty when not reported
    unsigned long sizeError = 0;  // of IOCTL_DISK_GET_LENGTH_INFO
    unsigned long long bytes = 0;
    bool writeProtected = false;  // IOCTL_DISK_IS_WRITABLE said so
    Holds system = Holds::Unknown;  // whether it holds the running system
    // What the media hold at least: the PE folder's ISO tree, before the
    // application goes in.
    unsigned long long mediaAtLeast = 0;
};

// Why the disk must not be erased ("tarnwick: disk N ..."), empty when it
// may be. unknownDisk lets a disk whose size cannot be read through.
std::string DiskRefusal(const DiskFacts& facts, bool unknownDisk);

// What is shown of the disk before it is erased: its line, what the media
// boot on, and whether the running system could not be ruled out.
std::string DiskDescription(const DiskFacts& facts);

// The name of a STORAGE_BUS_TYPE; empty for an unknown one.
std::string BusName(int busType);

// kExitSuccess when the disk numbered by target may be erased; otherwise the
// reason is printed, disk refusals logged, and the exit code returned.
int GuardDisk(const std::wstring& target, bool yes, bool unknownDisk);

}  // namespace host
