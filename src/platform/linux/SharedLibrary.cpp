// Opening a library at run time and taking functions from it.
#include "platform/linux/SharedLibrary.h"

#include <dlfcn.h>

namespace velaro {

SharedLibrary::SharedLibrary(const char* soname)
    : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}

void* SharedLibrary::symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

}  // namespace velaro
