// The socket's send queue, read from the kernel: data handed to senddta may still be
// waiting there long after the call returned, when the server reads slowly.
#include "smtp/send_queue.h"

#if defined(__linux__)
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace tolmail::smtp {

long UnsentBytes(int32_t handle)
{
#if defined(__linux__)
    int queued = 0;
    if (handle > 0 && ::ioctl(handle, SIOCOUTQ, &queued) == 0)
        return queued;
#else
    (void)handle;
#endif
    return -1;
}

} // namespace tolmail::smtp
