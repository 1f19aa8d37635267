// A loadable library that stands in for the system's "opengl32.dll".
extern "C" __attribute__((visibility("default"))) int FakeOpenGlVersion() { return 1; }
