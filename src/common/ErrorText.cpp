#include "ErrorText.h"

#include "LogFile.h"
#include "RunnerConstants.h"

#include <windows.h>

#include <cwctype>

std::wstring ErrorText(unsigned long code)
{
    std::wstring text = std::to_wstring(code);
    wchar_t message[runner::kErrorTextChars] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  message, runner::kErrorTextChars, nullptr);
    // The system's texts end in a line break.
    while (length > 0 && std::iswspace(message[length - 1])) {
        --length;
    }
    if (length > 0) {
        text += L" (" + std::wstring(message, length) + L")";
    }
    return text;
}

std::string ErrorTextAnsi(unsigned long code)
{
    return WideToAnsi(ErrorText(code));
}
