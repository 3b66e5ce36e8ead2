// Whether a test may cap a process's address space: AddressSanitizer
// reserves terabytes of it, so under the sanitizer a cap fails every run.
#pragma once

namespace zeftest {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimits = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceLimits = false;
#else
inline constexpr bool kAddressSpaceLimits = true;
#endif
#else
inline constexpr bool kAddressSpaceLimits = true;
#endif

}  // namespace zeftest
