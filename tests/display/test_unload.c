/* Loads liborvenna.so, leaves handles live and unloads it: under LeakSanitizer nothing may be
 * left, so unloading must release every slot and the device table. Argument: the library. */
#include <dlfcn.h>
#include <stdio.h>

#include "orvenna.h"

typedef int32_t(ORVD_CALL* InitFn)(int32_t*, tagORVD_ENGINE);
typedef int32_t(ORVD_CALL* ModeFn)(int32_t, uint32_t);

int main(int argc, char** argv) {
    void* library;
    InitFn init;
    ModeFn mode;
    int32_t handle = -1;
    int i;
    if (argc < 2) return 2;
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    /* pixman (under cairo) allocates for good when it is loaded; keeping it loaded past our
     * dlclose leaves LeakSanitizer only what the library itself left. */
    dlopen("libpixman-1.so.0", RTLD_NOW | RTLD_NOLOAD);
    init = (InitFn)dlsym(library, "ORVD_InitByDisEngine");
    mode = (ModeFn)dlsym(library, "ORVD_SetDisplayMode");
    if (init == NULL || mode == NULL) return 1;
    for (i = 0; i < 3; ++i) {
        if (init(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK || handle != i) return 1;
    }
    if (mode(42, 1) != ORVD_OK) return 1; /* a slot filled on demand */
    dlclose(library);
    printf("1 passed, 0 failed\n");
    return 0;
}
