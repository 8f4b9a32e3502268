// StringConversion: between the platform's wide text and UTF-8.
#pragma once

#include <VelSDK/Export.h>

#include <string>
#include <string_view>

namespace StringConversion {

/// Wide text (UTF-16 where wchar_t has 16 bits, UTF-32 where it has 32) as UTF-8. Unpaired
/// surrogates and values beyond U+10FFFF become U+FFFD.
VELSDK_NURBS_API std::string NativeToUtf8(std::wstring_view text);

/// UTF-8 as wide text. Bytes that do not form valid UTF-8 (overlong forms, surrogates,
/// values beyond U+10FFFF, truncated sequences) become U+FFFD, one per bad byte.
VELSDK_NURBS_API std::wstring Utf8ToNative(std::string_view text);

}  // namespace StringConversion
