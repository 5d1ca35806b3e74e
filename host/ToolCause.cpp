#include "ToolCause.h"

#include "EsdToIsoConstants.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// Windows' texts of the system error, the Linux tools' behind the stand-ins,
// and the WIM tool's own. An empty tool matches every tool.
const struct {
    const char* tool;
    const char* pattern;
    const char* words;
} kCauses[] = {
    {"cdimage", "access is denied", "the ISO folder cannot be written"},
    {"cdimage", "permission denied", "the ISO folder cannot be written"},
    {"cdimage", "read-only file system", "the ISO folder cannot be written"},
    {"cdimage", "not enough space", "the ISO folder's disk is full"},
    {"cdimage", "no space left", "the ISO folder's disk is full"},
    {"wimlib-imagex", "not enough space", "the disk of the temporary folder is full"},
    {"wimlib-imagex", "no space left", "the disk of the temporary folder is full"},
    {"wimlib-imagex", "is not a valid image", "the ESD has no such image"},
    {"wimlib-imagex", "not a wim file", "the ESD is not a WIM file"},
    {"wimlib-imagex", "decompress", "the ESD is damaged"},
    {"wimlib-imagex", "corrupt", "the ESD is damaged"},
    {"", "access is denied", "a file cannot be written"},
    {"", "permission denied", "a file cannot be written"},
    {"", "out of memory", "out of memory"},
    {"", "not enough memory", "out of memory"},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Stem(const std::string& file)
{
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

}  // namespace

std::string ToolCause(const std::string& tool, unsigned long exitCode, const std::string& lastLine)
{
    const std::string name = Stem(tool);
    const std::string line = Lower(lastLine);
    std::string words;
    for (const auto& cause : kCauses) {
        if ((cause.tool[0] == '\0' || Lower(name) == cause.tool) && line.find(cause.pattern) != std::string::npos) {
            words = cause.words;
            break;
        }
    }
    if (words.empty()) {
        words = lastLine.empty() ? "failed" : lastLine;
    }
    return name + ": " + words + " (exit " + std::to_string(exitCode) + ")";
}

std::string ToolCauseInLog(const std::string& log)
{
    const size_t entry = log.rfind(esdtoiso::kToolFailedEntry);
    if (entry == std::string::npos) {
        return std::string();
    }
    const size_t nameStart = entry + std::strlen(esdtoiso::kToolFailedEntry);
    const size_t codeAt = log.find(esdtoiso::kToolExitCode, nameStart);
    const size_t lineAt = log.find(esdtoiso::kToolLastLine, nameStart);
    const size_t end = std::min(log.find_first_of("\r\n", nameStart), log.size());
    if (codeAt == std::string::npos || lineAt == std::string::npos || lineAt < codeAt || lineAt > end) {
        return std::string();
    }
    const size_t codeStart = codeAt + std::strlen(esdtoiso::kToolExitCode);
    const std::string code = log.substr(codeStart, lineAt - codeStart);
    const size_t textAt = lineAt + std::strlen(esdtoiso::kToolLastLine);
    return ToolCause(log.substr(nameStart, codeAt - nameStart), std::strtoul(code.c_str(), nullptr, 10),
                     log.substr(textAt, end - textAt));
}

}  // namespace host
