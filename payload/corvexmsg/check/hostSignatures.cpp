/* Every function the host looks up in the payload library must have exactly
 * the type the host calls it through, or the first call corrupts the stack
 * instead of failing at load. This unit turns a mismatch into a build error:
 * each entry point declared in corvexmsgExports.h is compared with the host's
 * function type of the same name (corvexmsg<Name> with msg<Name>), so a name
 * the host never looks up fails too. It is compiled with the payload and
 * linked into nothing. */
#include <type_traits>

#include <payloadbridge.h>

#include "corvexmsgExports.h"

#define CORVEXMSG_CHECK_HOST_TYPE(name)                                                            \
    static_assert(std::is_same<decltype(&corvexmsg##name), msg##name>::value,                      \
                  "corvexmsg" #name " does not have the host's type msg" #name)

/* The deprecated type the host still looks one entry point up by. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
/* One line for each declaration, generated from corvexmsgExports.h. */
#include "hostSignatureList.h"
#pragma GCC diagnostic pop
