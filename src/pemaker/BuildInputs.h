#pragma once

#include <string>

// What one build puts into the boot image, summed up in a digest: the
// commands' fixed parts, the bytes of the files the build writes itself,
// every folder of the sources by name and attributes and every file also by
// size and times (the test a mirroring copy makes to skip a file). A build
// whose digest the image's record already holds would write the same image.
class BuildInputs {
public:
    // Not taken: every call is a no-op (a build that never compares).
    // ownLog, the log this process writes while it builds, is passed over:
    // no image can hold it as it is.
    BuildInputs(bool taken, const std::wstring& ownLog) : m_taken(taken), m_ownLog(ownLog) {}

    void Text(const std::wstring& text);
    void Bytes(const std::string& bytes);
    // The bytes of a small file the build wrote, whose name and times differ each time.
    void Content(const std::wstring& path);
    // path and, for a folder, everything below it, without following the
    // links below it and without excluded (a folder below path, or empty).
    void Tree(const std::wstring& path, const std::wstring& excluded);
    // Lower-case hex SHA-256 of what was added; empty when it could not be
    // taken, so that no record matches.
    std::string Digest() const;

private:
    void Entry(const std::wstring& relative, const void* findData);
    void Folder(const std::wstring& root, const std::wstring& relative, const std::wstring& excluded);

    bool m_taken;
    std::wstring m_ownLog;
    std::string m_text;
};
