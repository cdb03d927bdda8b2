// A tiny library bound at run time by the dynamic-library tests.
extern "C" __attribute__((visibility("default"))) int PlatformProbeAnswer(int question) {
    return question * 2 + 1;
}
