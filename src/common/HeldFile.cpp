#include "HeldFile.h"

namespace {

constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056L);

// Windows reports an open of a file whose delete is pending as access
// denied; only the NT status tells the two apart.
bool DeletePending(DWORD error)
{
    if (error == ERROR_DELETE_PENDING) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED) {
        return false;
    }
    using LastNtStatusFn = LONG(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto lastStatus = ntdll ? reinterpret_cast<LastNtStatusFn>(reinterpret_cast<void*>(
                                        GetProcAddress(ntdll, "RtlGetLastNtStatus")))
                                  : nullptr;
    return lastStatus && lastStatus() == kStatusDeletePending;
}

}  // namespace

bool HeldByAnother(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || DeletePending(error);
}
