/* ThreadSanitizer options of the bridge's test binaries. OpenMAMA frees a
 * destroy handle (every subscription has one, and every image request) with
 * its lock still held. The deadlock detector then counts that lock as held by
 * the releasing thread for good: it reports lock-order inversions against it
 * and, once a thread has released 64 of them, stops the process on its own
 * consistency check. Its lock-order checks are therefore off here; data races
 * are still detected, and the client library's tests keep them on. */
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
    return "detect_deadlocks=0";
}
#endif
