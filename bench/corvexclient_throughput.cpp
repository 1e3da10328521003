/* Messages per second from one publishing thread to one subscribing session
 * over the embedded router: corvexclient_throughput [count] [size]. */
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "corvexClient.h"

namespace
{
std::atomic<uint64_t> gReceived{0};
std::atomic<uint64_t> gBytes{0};

int onMessage (corvexClient_session_t, corvexClient_msg_t msg, void*)
{
    void*    content = nullptr;
    uint32_t size    = 0;
    corvexClient_msg_getBinaryAttachmentPtr (msg, &content, &size);
    gBytes.fetch_add (size, std::memory_order_relaxed);
    gReceived.fetch_add (1, std::memory_order_release);
    return CORVEXCLIENT_CALLBACK_OK;
}

void check (corvexClient_returnCode_t code, const char* what)
{
    if (code == CORVEXCLIENT_OK)
        return;
    const corvexClient_errorInfo_t* info = corvexClient_getLastErrorInfo ();
    fprintf (stderr, "%s failed: %s %s\n", what, corvexClient_returnCodeToString (code),
             info ? info->mErrorText : "");
    exit (1);
}

corvexClient_session_t connectSession (corvexClient_context_t context, const char* name)
{
    const char*                           properties[] = {"SESSION_CLIENT_NAME", name, nullptr};
    corvexClient_session_createFuncInfo_t funcInfo{};
    corvexClient_session_t                session = nullptr;
    check (corvexClient_session_create (properties, context, &session, &funcInfo, sizeof (funcInfo)), "create");
    check (corvexClient_session_connect (session), "connect");
    return session;
}
}

int main (int argc, char** argv)
{
    const uint64_t count = argc > 1 ? strtoull (argv[1], nullptr, 10) : 1000000;
    const uint32_t size  = argc > 2 ? static_cast<uint32_t> (strtoul (argv[2], nullptr, 10)) : 100;

    check (corvexClient_initialize (CORVEXCLIENT_LOG_WARNING, nullptr), "initialize");
    const char*            contextProperties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
    corvexClient_context_t context             = nullptr;
    check (corvexClient_context_create (contextProperties, &context, nullptr, 0), "context");
    corvexClient_session_t subscriber = connectSession (context, "bench-sub");
    corvexClient_session_t publisher  = connectSession (context, "bench-pub");
    CorvexDispatchInfo     dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, onMessage, nullptr, nullptr};
    check (corvexClient_session_topicSubscribeWithDispatch (subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                                            "bench/quotes/ABC", &dispatch, nullptr),
           "subscribe");

    std::vector<char> content (size, 'x');
    const auto        start = std::chrono::steady_clock::now ();
    corvexClient_msg_t msg   = nullptr;
    check (corvexClient_msg_alloc (&msg), "alloc");
    check (corvexClient_msg_setTopicPtr (msg, "bench/quotes/ABC"), "topic");
    for (uint64_t i = 0; i < count; ++i)
    {
        check (corvexClient_msg_setBinaryAttachmentPtr (msg, content.data (), size), "content");
        check (corvexClient_session_sendMsg (publisher, msg), "send");
    }
    const auto sent = std::chrono::steady_clock::now ();
    while (gReceived.load (std::memory_order_acquire) < count)
        std::this_thread::yield ();
    const auto end = std::chrono::steady_clock::now ();
    corvexClient_msg_free (&msg);

    const double seconds = std::chrono::duration<double> (end - start).count ();
    const double sending = std::chrono::duration<double> (sent - start).count ();
    printf ("%llu messages of %u bytes: delivered %llu (%llu bytes) in %.3f s = %.0f msg/s (publisher done after %.3f s)\n",
            static_cast<unsigned long long> (count), size, static_cast<unsigned long long> (gReceived.load ()),
            static_cast<unsigned long long> (gBytes.load ()), seconds, count / seconds, sending);

    check (corvexClient_session_destroy (&publisher), "destroy");
    check (corvexClient_session_destroy (&subscriber), "destroy");
    check (corvexClient_context_destroy (&context), "context destroy");
    check (corvexClient_cleanup (), "cleanup");
    return gReceived.load () == count ? 0 : 2;
}
