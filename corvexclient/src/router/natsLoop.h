/* The NATS router's input and output thread: the connections of a router
 * run on one event loop of its own (the NATS client's external event loop
 * mode) instead of a reader and a flusher thread each. The NATS client
 * still delivers received messages on its delivery thread.
 *
 * With the NATS client's own threads, what a publisher buffers goes out
 * either after the flusher's pause of about a millisecond or with a flush,
 * a round trip to the server whose answer wakes two more threads of the
 * sending process per message. Here every publish asks for its
 * connection's buffer to be written (the connections send as soon as they
 * can): a sender whose connection has not written for kWriteGap writes at
 * once, on its own thread; one that comes sooner leaves its message to the
 * loop, which writes all that gathered kWriteGap after the last write, in
 * one system call. A sparse stream goes out message by message and a dense
 * one in large writes, and neither costs a round trip. */
#ifndef CORVEXCLIENT_NATS_LOOP_H
#define CORVEXCLIENT_NATS_LOOP_H

#include <nats/nats.h>

#include <chrono>

struct CorvexNatsLoop;

/* Starts the loop's thread; NULL when it cannot. */
CorvexNatsLoop* corvexNatsLoop_create();

/* Stops the thread. Every connection of the loop is destroyed before. */
void corvexNatsLoop_destroy(CorvexNatsLoop* loop);

/* A connection's place on a loop, kept by the connection's owner for as
 * long as the connection lives. Both callbacks run on the NATS client's
 * thread that found or mended the loss, with the connection's lock held.
 * mLost: the connection was found lost and reconnects next; it has sent
 * nothing since, and what it is given from now on it keeps for the next
 * connection. mReattached: it is connected again, and has not subscribed
 * again yet: nothing the new connection receives has reached a
 * subscription. (The client's disconnected callback runs on a thread that
 * every connection of the process shares, and may come after the
 * connection is back.) */
struct CorvexNatsLoopBinding
{
    CorvexNatsLoop* mLoop;
    void (*mLost)(natsConnection* connection, void* closure);
    void (*mReattached)(natsConnection* connection, void* closure);
    void* mClosure;
};

/* Sets the options of a connection to run on the binding's loop and to
 * send at once. */
natsStatus corvexNatsLoop_apply(CorvexNatsLoopBinding* binding, natsOptions* options);

/* Around a publish: the write the connection asks for is held back, then
 * made at once on the calling thread (what the socket does not take is
 * left to the loop), unless the connection wrote a moment ago: the loop
 * then makes it a moment after that one, with what other sends buffered
 * meanwhile. */
void corvexNatsLoop_holdWrites();
void corvexNatsLoop_releaseWrites();

/* Returns once the loop is done with every connection closed before the
 * call: between natsConnection_Close and natsConnection_Destroy. */
void corvexNatsLoop_quiesce(CorvexNatsLoop* loop);

/* A sender's wait while a connection holds more than limit bytes that the
 * loop has not written yet: true once it holds no more, false when the
 * deadline passed first. A connection whose server took nothing until the
 * deadline is found lost: its socket is shut, and the NATS client
 * reconnects as for any broken connection (the write deadline a blocking
 * write would have had). */
bool corvexNatsLoop_awaitRoom(CorvexNatsLoop* loop, natsConnection* connection, int limit,
                              std::chrono::steady_clock::time_point deadline);

#endif
