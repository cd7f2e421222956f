/* A tiny library for the version-resource tests; its code is never called. */
__declspec(dllexport) int farsend_test_library_marker(void) { return 1; }
