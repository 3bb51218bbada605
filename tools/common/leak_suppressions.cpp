// Fontconfig, which cairo's text drawing loads, keeps a few allocations of its
// configuration to the end of the program. LeakSanitizer (in the sanitizer
// build) reads this list from the program itself; elsewhere it is unused.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

// ... and says nothing about them, so that the error stream stays the tool's.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
