/* host_list_control.h: how a host application hands its list control and its main thread to a
 * search plug-in (libquillon.so, libverrin.so).
 *
 * The host fills one HostListControl, keeps it alive from start until clear has returned, and
 * passes its address as the fifth argument of the start export:
 *
 *   void _QuillonStartSearch(char resume, int maxResults, char stopWhenAllFound,
 *                            char exactMatch, const HostListControl *statusTarget);
 *   void _QuillonStopSearch(void);
 *   char _QuillonIsFinished(void);
 *   void _QuillonClearMemory(void);
 *
 * (and the same four with the prefix _Verrin). Every export is called on the host's main thread.
 * The plug-in's job thread reaches the host only through synchronize; the host's main thread must
 * keep servicing those requests while a run is going, and also while it waits for a run to end.
 *
 * A host keeps a loaded plug-in loaded: no dlclose while the process runs. The HTTP and TLS
 * libraries a plug-in links do not survive being unloaded.
 */
#ifndef HOST_LIST_CONTROL_H
#define HOST_LIST_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_LIST_CONTROL_VERSION 1

typedef struct HostListControl {
    uint32_t version;   /* HOST_LIST_CONTROL_VERSION */
    void *host;         /* the host's own pointer, handed back unchanged in every call below */
    /* Job thread: runs method(data) on the host's main thread; returns after method has returned there. */
    void (*synchronize)(void *host, void (*method)(void *data), void *data);
    /* Host's main thread, while the plug-in itself waits on that thread (clear on a running job):
       runs the pending synchronize requests, waiting up to timeoutMs for one; returns how many ran. */
    int (*checkSynchronize)(void *host, int timeoutMs);
    /* Host's main thread only (inside a synchronize request): inserts the line (length bytes, not
       zero-terminated, any byte) at index 0 of the host's list. */
    void (*insertLine)(void *host, const char *line, size_t length);
    /* The thread that called start, before start returns, when no job could be made: message is
       zero-terminated and names the cause (file and line where there is one). */
    void (*startFailed)(void *host, const char *message);
} HostListControl;

#ifdef __cplusplus
}
#endif

#endif /* HOST_LIST_CONTROL_H */
