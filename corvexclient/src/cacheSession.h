/* Cache sessions: the handle through which a session asks its router's
 * last-value cache. */
#ifndef CORVEXCLIENT_CACHE_SESSION_H
#define CORVEXCLIENT_CACHE_SESSION_H

#include "corvexClient.h"

/* Cuts the link of every cache session of a session that is being
 * destroyed; those cache sessions then refuse requests. */
void corvexCacheSession_detachAll(corvexClientSession* session);

#endif
