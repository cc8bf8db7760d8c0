#include "MemoryGuard.h"

#include <cstdio>
#include <new>

#include "ExitStatus.h"

int MemoryGuard::Call(Run run, int argc, char** argv, const char* what) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\nNot enough memory for %s.\n", what);
        return kExitFailure;
    }
}
