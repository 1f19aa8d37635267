// A library without the plug-in's exports, for the host's tests.
extern "C" __attribute__((visibility("default"))) int BareLibraryVersion() { return 1; }
