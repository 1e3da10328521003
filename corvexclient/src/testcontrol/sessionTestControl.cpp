/* Test control of sessions: events and discard indications as a router
 * would raise them. */
#include <mutex>
#include <shared_mutex>

#include "clientError.h"
#include "corvexClientTest.h"
#include "session.h"
#include "testControl.h"

bool corvexTest_takeDiscardIndication(corvexClient_session_t session)
{
    return session->mInjectDiscard.load(std::memory_order_relaxed) &&
           session->mInjectDiscard.exchange(false);
}

extern "C"
{

    corvexClient_returnCode_t corvexClientTest_injectSessionEvent(
        corvexClient_session_t session, corvexClient_session_event_t event,
        corvexClient_subCode_t subCode, int32_t responseCode, const char* info, void* correlation)
    {
        if (!session)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexSession_isValid(session))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        if (session->mState == CORVEX_SESSION_DESTROYED)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
        /* A reconnect is a new login: router subscriptions come back only when
         * the session places them again. */
        if (event == CORVEXCLIENT_SESSION_EVENT_RECONNECTED &&
            session->mState == CORVEX_SESSION_CONNECTED)
        {
            corvexSession_disconnectLocked(session);
            /* Without re-applying, the entries stay but the router forgets them. */
            CorvexDispatchTable kept;
            if (!session->mReapplySubscriptions)
                std::swap(kept, session->mTable);
            const corvexClient_returnCode_t code = corvexSession_connectLocked(session);
            if (!session->mReapplySubscriptions)
                std::swap(kept, session->mTable);
            if (code != CORVEXCLIENT_OK)
                return code;
        }
        corvexSession_raiseEvent(session, event, subCode, responseCode, info ? info : "",
                                 correlation);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t
    corvexClientTest_injectDiscardIndication(corvexClient_session_t session)
    {
        if (!session)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexSession_isValid(session))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        session->mInjectDiscard.store(true);
        return CORVEXCLIENT_OK;
    }
}
