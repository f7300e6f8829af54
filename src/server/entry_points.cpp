// The library's exported C functions: the server's four entry points, its description and
// the message loop for hosts. Each runs the core over the library's own tables and lets no
// exception cross into the host.
#include "platform/module_path.h"
#include "server/catalog.h"
#include "server/class_object.h"
#include "server/library_desc.h"
#include "server/live_count.h"
#include "server/registration.h"
#include "tolmail/automation.h"
#include "tolmail/message_loop.h"

using namespace tolmail::server;

extern "C" {

TOLMAIL_C_API TmResult DllGetClassObject(const TmGuid* clsid, const TmGuid* iid, void** object)
{
    try {
        return GetClassObject(TheCatalog(), clsid, iid, object);
    } catch (...) {
        return TM_E_FAIL;
    }
}

TOLMAIL_C_API TmResult DllCanUnloadNow(void)
{
    return CanUnload() ? TM_S_OK : TM_S_FALSE;
}

TOLMAIL_C_API TmResult DllRegisterServer(void)
{
    try {
        return Register(TheLibrary(), RegistryFile(), tolmail::platform::ModulePath());
    } catch (...) {
        return TM_SELFREG_E_CLASS;
    }
}

TOLMAIL_C_API TmResult DllUnregisterServer(void)
{
    try {
        return Unregister(TheLibrary(), RegistryFile());
    } catch (...) {
        return TM_SELFREG_E_CLASS;
    }
}

TOLMAIL_C_API const TmLibraryDesc* TmGetLibraryDesc(void)
{
    try {
        return &DescriptionOf(TheLibrary()).desc();
    } catch (...) {
        return nullptr;
    }
}

TOLMAIL_C_API int32_t TmMessageLoopDescriptor(void)
{
    try {
        return tolmail::MessageLoopDescriptor();
    } catch (...) {
        return -1;
    }
}

TOLMAIL_C_API void TmPumpMessages(void)
{
    try {
        tolmail::PumpMessages();
    } catch (...) {
        // A host's task that throws must not unwind through C.
    }
}

} // extern "C"
