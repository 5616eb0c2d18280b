// Whether the build runs under AddressSanitizer, whose allocator (redzones, a quarantine of freed
// blocks) makes resident-memory figures incomparable with a normal build's.
#pragma once

namespace quillore::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

} // namespace quillore::test
