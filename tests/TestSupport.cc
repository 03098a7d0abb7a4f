// Lets the allocation-failure tests see a null result from malloc under
// AddressSanitizer instead of an abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
