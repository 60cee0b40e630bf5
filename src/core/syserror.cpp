// Texts of the system-specific error codes that the screens record beside
// a table error (display-surface results).
#include <tarvex/error.h>

namespace
{

struct SysText {
    uint32_t code;
    const char* text;
};

// Codes keep the classic surface-result numbering so stored reports stay comparable.
constexpr SysText kSysTexts[] = {
    {0x8007000Eu, "DirectDraw does not have enough memory to perform the operation."},
    {0x88760096u, "The provided rectangle was invalid."},
    {0x887601C2u,
     "Access to this surface is refused because the surface memory is gone.\nThe DirectDrawSurface "
     "object representing this surface should have the IDirectDrawSurface::Restore method called on "
     "it. "},
    {0x8876026Cu,
     "A device context has already been returned for this surface.\nOnly one device context can be "
     "retrieved for each surface. "},
};

} // namespace

const char* CError::GetSysSpecError(int32_t* code)
{
    if (code != nullptr)
        *code = sysCode;
    if (sysCode == 0)
        return nullptr;
    for (const auto& t : kSysTexts)
        if (t.code == static_cast<uint32_t>(sysCode))
            return t.text;
    return "Unknown error code";
}
