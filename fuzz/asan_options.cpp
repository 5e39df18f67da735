// The sanitizer's settings for every fuzz target.
extern "C" const char* __asan_default_options();

// Freed memory is held back 32 MiB deep instead of 256: still far more than one input frees,
// so a use after free within a run is caught as before, while a deeper queue made nearly every
// allocation a fresh, cold page and cost allocation-heavy targets half their time.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=32";
}
