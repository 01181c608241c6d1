// The program olvaro.
#include "platform/thread.h"
#include "startup.h"

int main() { return host::run(GetCommandLine()); }
