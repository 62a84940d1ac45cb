/* A library without a self-registration entry. */
__attribute__((visibility("default"))) int DllUnregisterServer(void) { return 0; }
