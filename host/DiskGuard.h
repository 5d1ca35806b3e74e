#pragma once

#include <string>

// What tarnwick settles before --deliver disk erases a disk: that the disk
// exists, that it holds no volume the running system needs, and that the
// user said yes.
namespace host {

// kExitSuccess when the disk numbered by target may be erased; otherwise the
// reason is printed and the exit code returned.
int GuardDisk(const std::wstring& target, bool yes);

// "Disk N: <model>, <size in GiB>" with "unknown" for what is not known.
std::string DiskLine(unsigned long disk, const std::string& model, unsigned long long bytes);

}  // namespace host
