#pragma once

#include <windows.h>

#include <string>

// The one line each command ends with, saying what it made, and the one form
// of a size in tarnwick's output.
namespace host {

// "812 bytes", "4.0 KiB", "350.2 MiB", "14.6 GiB": one decimal from KiB on.
std::string SizeText(unsigned long long bytes);

// "<what>: <path> (<size>)", as in "ISO written: D:\out\boot.iso (350.2 MiB)".
std::wstring MadeLine(const wchar_t* what, const std::wstring& path, unsigned long long bytes);

// "disk N written: <size>".
std::wstring DiskWrittenLine(unsigned long disk, unsigned long long bytes);

// "replacing <path> (<size>, <YYYY-MM-DD hh:mm>)", the time being local.
std::wstring ReplacingLine(const std::wstring& path, unsigned long long bytes, const SYSTEMTIME& written);

// The "replacing" line of the file at path; empty when no file is there.
std::wstring ReplacingNotice(const std::wstring& path);

// The line on standard output, ended.
void PrintLine(const std::wstring& line);

}  // namespace host
