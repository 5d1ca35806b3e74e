#pragma once

#include <windows.h>

#include <string>

// Whole files as bytes, and UTF-8 <-> UTF-16, for the programs around the
// library: the tool stand-ins, the host and the tests.
namespace plainwin {

// Appends what is left of file to bytes. False when a read fails.
bool ReadToEnd(HANDLE file, std::string& bytes);
// Writes all of bytes at the file's position. False when any is not written.
bool WriteAll(HANDLE file, const std::string& bytes);

// The file's bytes, read while others may still read and write it. False when
// it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
// Replaces the file, or makes it.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
// Makes the file only if it is not there: false with ERROR_FILE_EXISTS as the
// last error when it is, so callers can pick another name.
bool WriteNewFile(const std::wstring& path, const std::string& bytes);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace plainwin
