// The sanitizer's settings for every fuzz target.
extern "C" const char* __asan_default_options();

// Freed memory is held back 8 MiB deep instead of 256: still far more than one input of any
// target frees, so a use after free within a run is caught as before, while a deeper queue
// made nearly every allocation a fresh, cold page. Going from 32 MiB to 8 took a tenth off the
// station splitter's time, which allocates for every run it reads.
// Each allocation keeps 5 frames of where it was made and freed, not 30: walking the stack
// was most of the sanitizer's cost per allocation. A report still shows the whole stack of
// the bad access; rerun a finding with ASAN_OPTIONS=malloc_context_size=30 for deeper ones.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=8:malloc_context_size=5";
}
