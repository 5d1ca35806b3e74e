#include "EsdImages.h"

#include "EsdToIsoConstants.h"

#include "common/UniqueHandle.h"
#include "esd/EsdHeader.h"

#include <windows.h>

namespace host {
namespace {

// The text between <tag> and </tag> from at on, and where it ends.
bool ElementText(const std::wstring& xml, const std::wstring& tag, size_t at, size_t end, std::wstring& text)
{
    const std::wstring open = L"<" + tag + L">";
    const size_t start = xml.find(open, at);
    if (start == std::wstring::npos || start >= end) {
        return false;
    }
    const size_t close = xml.find(L"</" + tag + L">", start);
    if (close == std::wstring::npos || close > end) {
        return false;
    }
    text = xml.substr(start + open.size(), close - start - open.size());
    return true;
}

std::wstring Unescaped(const std::wstring& text)
{
    static const struct {
        const wchar_t* entity;
        wchar_t character;
    } entities[] = {{L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}, {L"&amp;", L'&'}};
    std::wstring result;
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        for (const auto& e : entities) {
            const std::wstring entity = e.entity;
            if (text.compare(i, entity.size(), entity) == 0) {
                result += e.character;
                i += entity.size() - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            result += text[i];
        }
    }
    return result;
}

std::uint64_t Decimal(const std::wstring& text)
{
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return value;
}

}  // namespace

std::vector<EsdImage> ImagesOfWimXml(const std::wstring& xml)
{
    std::vector<EsdImage> images;
    const std::wstring open = L"<IMAGE INDEX=\"";
    for (size_t at = xml.find(open); at != std::wstring::npos; at = xml.find(open, at + 1)) {
        size_t end = xml.find(L"</IMAGE>", at);
        if (end == std::wstring::npos) {
            end = xml.size();
        }
        EsdImage image;
        image.index = static_cast<unsigned>(Decimal(xml.substr(at + open.size())));
        std::wstring text;
        if (ElementText(xml, L"TOTALBYTES", at, end, text)) {
            image.bytes = Decimal(text);
        }
        if (ElementText(xml, L"NAME", at, end, text)) {
            image.name = Unescaped(text);
        }
        images.push_back(image);
    }
    return images;
}

std::vector<EsdImage> ReadEsdImages(const std::wstring& path)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char header[esd::kWimHeaderWithXmlBytes] = {};
    DWORD got = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    if (!file.Valid() || !ReadFile(file.Get(), header, sizeof(header), &got, nullptr) ||
        !esd::WimXmlData(header, got, offset, length) || length > esdtoiso::kMaxXmlBytes) {
        return {};
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    std::wstring xml(static_cast<size_t>(length / sizeof(wchar_t)), L'\0');
    const DWORD wanted = static_cast<DWORD>(xml.size() * sizeof(wchar_t));
    if (!SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.Get(), &xml[0], wanted, &got, nullptr) || got != wanted) {
        return {};
    }
    return ImagesOfWimXml(xml);
}

const EsdImage* FindImage(const std::vector<EsdImage>& images, unsigned index)
{
    for (const EsdImage& image : images) {
        if (image.index == index) {
            return &image;
        }
    }
    return nullptr;
}

}  // namespace host
