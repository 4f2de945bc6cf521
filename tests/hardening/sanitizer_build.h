#pragma once
// FACETTA_UNDER_ASAN is 1 in an AddressSanitizer build, where memory figures mean nothing.
#if defined(__SANITIZE_ADDRESS__)
#define FACETTA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FACETTA_UNDER_ASAN 1
#endif
#endif
