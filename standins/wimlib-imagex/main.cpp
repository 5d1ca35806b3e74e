// Stand-in for wimlib-imagex.exe: journals its calls for tests, and otherwise
// runs Debian's wimlib-imagex on the same request.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Utf16LeBytesToWide(const std::string& bytes)
{
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return text;
}

// Splits one update command into words; double quotes group, and are dropped.
std::vector<std::wstring> SplitWords(const std::wstring& line)
{
    std::vector<std::wstring> words;
    std::wstring word;
    bool inQuotes = false;
    bool haveWord = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            inQuotes = !inQuotes;
            haveWord = true;
        } else if ((c == L' ' || c == L'\t') && !inQuotes) {
            if (haveWord) {
                words.push_back(word);
            }
            word.clear();
            haveWord = false;
        } else {
            word.push_back(c);
            haveWord = true;
        }
    }
    if (haveWord) {
        words.push_back(word);
    }
    return words;
}

// The Linux wimlib reads its update commands as UTF-8 and needs the source of
// each "add" as a Unix path; image paths keep their backslashes.
std::string ToLinuxUpdateCommands(const std::string& utf16Bytes)
{
    const std::wstring text = Utf16LeBytesToWide(utf16Bytes);
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        start = end + 1;
        std::vector<std::wstring> words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        bool sourceDone = words[0] != L"add";
        std::string out;
        for (const std::wstring& word : words) {
            std::string piece = standin::ToUtf8(word);
            if (&word != &words[0] && !sourceDone && word.compare(0, 2, L"--") != 0) {
                piece = standin::ToUnixPath(word);
                sourceDone = true;
            }
            if (!out.empty()) {
                out += ' ';
            }
            out += (&word == &words[0] || piece.compare(0, 2, "--") == 0) ? piece : "\"" + piece + "\"";
        }
        result += out + "\n";
    }
    return result;
}

int RunLinuxWimlib(const standin::Invocation& invocation)
{
    std::vector<std::string> argv{"wimlib-imagex"};
    for (const std::wstring& arg : invocation.args) {
        argv.push_back(standin::TranslateArg(arg));
    }
    std::string input = invocation.stdinBytes;
    if (!invocation.args.empty() && invocation.args[0] == L"update") {
        input = ToLinuxUpdateCommands(input);
    }
    return static_cast<int>(standin::RunReal(argv, invocation, input));
}

}  // namespace

int wmain()
{
    return standin::Main(L"wimlib-imagex", RunLinuxWimlib);
}
