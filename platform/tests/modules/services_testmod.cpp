// A plug-in-like library for the module tests: one plain export and its own
// resources.
extern "C" __attribute__((visibility("default"))) int services_answer() { return 42; }
