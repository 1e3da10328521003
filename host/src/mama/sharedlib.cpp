// Opening the bridge and payload libraries the host loads by name.
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "mamainternal.h"

namespace
{
int openFlags()
{
#if defined(__SANITIZE_ADDRESS__)
    // Keeps symbols of unloaded libraries readable in leak reports.
    return RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE;
#else
    return RTLD_NOW | RTLD_GLOBAL;
#endif
}

// Directory holding this host library, or "" when it cannot be told.
std::string hostLibraryDirectory()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&mamaInternal_openSharedLib), &info) == 0 || !info.dli_fname)
    {
        return std::string();
    }
    std::string file(info.dli_fname);
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}
} // namespace

extern "C"
{

    void* mamaInternal_openSharedLib(const char* name, const char* path)
    {
        if (!name)
        {
            return nullptr;
        }
        char file[1024];
        if (path && *path)
        {
            snprintf(file, sizeof(file), "%s/lib%s.so", path, name);
        }
        else
        {
            snprintf(file, sizeof(file), "lib%s.so", name);
        }
        void* handle = dlopen(file, openFlags());
        if (handle)
        {
            return handle;
        }
        const char* error = dlerror();
        std::string reason = error ? error : "";
        if (!path || !*path)
        {
            // The loader's search also covers the host's own directory: a
            // sanitizer's dlopen wrapper hides the caller's runpath.
            std::string directory = hostLibraryDirectory();
            if (!directory.empty())
            {
                std::string beside = directory + "/" + file;
                handle = dlopen(beside.c_str(), openFlags());
                if (handle)
                {
                    return handle;
                }
            }
        }
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: could not open %s: %s", file,
                 reason.empty() ? "unknown error" : reason.c_str());
        return nullptr;
    }

} // extern "C"
