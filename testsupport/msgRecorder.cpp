#include "msgRecorder.h"

#include <mama/reservedfields.h>

mamaMsgCallbacks MsgRecorder::callbacks()
{
    mamaMsgCallbacks result = {};
    result.onCreate = onCreate;
    result.onError = onError;
    result.onMsg = onMsg;
    result.onQuality = onQuality;
    result.onGap = onGap;
    result.onDestroy = onDestroy;
    return result;
}

mamaWildCardMsgCallbacks MsgRecorder::wildCardCallbacks()
{
    mamaWildCardMsgCallbacks result = {};
    result.onCreate = onCreate;
    result.onError = onError;
    result.onMsg = onWildCardMsg;
    result.onDestroy = onDestroy;
    return result;
}

bool MsgRecorder::waitForMessages(size_t count, std::chrono::milliseconds limit)
{
    return waitUntil([count](MsgRecorder& r) { return r.mMessages.size() >= count; }, limit);
}

size_t MsgRecorder::messageCount()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mMessages.size();
}

std::vector<MsgRecorder::Message> MsgRecorder::messages()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mMessages;
}

std::vector<int64_t> MsgRecorder::seqs()
{
    std::vector<int64_t> result;
    for (const Message& message : messages())
    {
        result.push_back(message.mSeq);
    }
    return result;
}

std::vector<MsgRecorder::Error> MsgRecorder::errors()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mErrors;
}

std::vector<mama_status> MsgRecorder::errorStatuses()
{
    std::vector<mama_status> result;
    for (const Error& error : errors())
    {
        result.push_back(error.mStatus);
    }
    return result;
}

std::vector<mamaQuality> MsgRecorder::qualities()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mQualities;
}

int MsgRecorder::gaps()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mGaps;
}

int MsgRecorder::destroys()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mDestroys;
}

std::thread::id MsgRecorder::messageThread()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mMessageThread;
}

std::thread::id MsgRecorder::destroyThread()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mDestroyThread;
}

size_t MsgRecorder::messagesAtDestroy()
{
    std::lock_guard<std::mutex> guard(mLock);
    return mMessagesAtDestroy;
}

void MsgRecorder::recordMessage(mamaMsg msg, const char* subject)
{
    Message message = {mamaMsgType_typeForMsg(msg), MAMA_MSG_STATUS_OK, -1,
                       subject != nullptr ? subject : ""};
    mama_i64_t seq = -1;
    if (mamaMsg_getI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, &seq) == MAMA_STATUS_OK)
    {
        message.mSeq = seq;
    }
    int32_t status = MAMA_MSG_STATUS_OK;
    if (mamaMsg_getI32(msg, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid, &status) ==
        MAMA_STATUS_OK)
    {
        message.mStatus = static_cast<mamaMsgStatus>(status);
    }
    if (mOnMsg)
    {
        mOnMsg(msg);
    }
    record(
        [&]
        {
            mMessages.push_back(message);
            mMessageThread = std::this_thread::get_id();
        });
}

void MsgRecorder::recordError(mamaSubscription subscription, mama_status status,
                              const char* subject)
{
    mamaSubscriptionState state = MAMA_SUBSCRIPTION_UNKNOWN;
    if (subscription != nullptr)
    {
        mamaSubscription_getState(subscription, &state);
    }
    record(
        [&]
        {
            mErrors.push_back(Error{status, subject != nullptr ? subject : "",
                                    std::this_thread::get_id(), state});
        });
}

void MsgRecorder::recordDestroy()
{
    if (mAtDestroy)
    {
        mAtDestroy();
    }
    record(
        [&]
        {
            mDestroys++;
            mDestroyThread = std::this_thread::get_id();
            mMessagesAtDestroy = mMessages.size();
        });
}

void MAMACALLTYPE MsgRecorder::onCreate(mamaSubscription, void*) {}

void MAMACALLTYPE MsgRecorder::onError(mamaSubscription subscription, mama_status status, void*,
                                       const char* subject, void* closure)
{
    static_cast<MsgRecorder*>(closure)->recordError(subscription, status, subject);
}

void MAMACALLTYPE MsgRecorder::onMsg(mamaSubscription, mamaMsg msg, void* closure, void*)
{
    static_cast<MsgRecorder*>(closure)->recordMessage(msg, nullptr);
}

void MAMACALLTYPE MsgRecorder::onWildCardMsg(mamaSubscription, mamaMsg msg, const char* topic,
                                             void* closure, void*)
{
    static_cast<MsgRecorder*>(closure)->recordMessage(msg, topic);
}

void MAMACALLTYPE MsgRecorder::onQuality(mamaSubscription, mamaQuality quality, const char*, short,
                                         const void*, void* closure)
{
    MsgRecorder* self = static_cast<MsgRecorder*>(closure);
    self->record([&] { self->mQualities.push_back(quality); });
}

void MAMACALLTYPE MsgRecorder::onGap(mamaSubscription, void* closure)
{
    MsgRecorder* self = static_cast<MsgRecorder*>(closure);
    self->record([&] { self->mGaps++; });
}

void MAMACALLTYPE MsgRecorder::onDestroy(mamaSubscription, void* closure)
{
    static_cast<MsgRecorder*>(closure)->recordDestroy();
}

void MAMACALLTYPE MsgRecorder::onInboxMsg(mamaMsg msg, void* closure)
{
    static_cast<MsgRecorder*>(closure)->recordMessage(msg, nullptr);
}

void MAMACALLTYPE MsgRecorder::onInboxError(mama_status status, void* closure)
{
    static_cast<MsgRecorder*>(closure)->recordError(nullptr, status, nullptr);
}

void MAMACALLTYPE MsgRecorder::onInboxDestroy(mamaInbox, void* closure)
{
    static_cast<MsgRecorder*>(closure)->recordDestroy();
}
