// Closes what effects_test_support.h opened; the last include of each test file.
#if defined(__clang__)
#pragma clang attribute pop
#endif
