#include "msgNode.h"

#include <atomic>
#include <mutex>
#include <new>

namespace
{
/* Message nodes are taken on the vendor thread and given back on dispatch
 * threads, one of each per message: they come from chunks that stay with
 * the library until it unloads, kept on a free stack that both sides use
 * without a lock or the heap. The stack's head holds a node's index beside
 * a count of changes, so a node taken and given back between another
 * thread's read and exchange cannot go unnoticed. */
struct PooledNode
{
    CorvexMsgNode mNode; /* first: a node given back leads back to its record */
    uint32_t mIndex;
    std::atomic<uint32_t> mNextFree;
};

const uint32_t NODES_PER_CHUNK = 1024;
const uint32_t MAX_CHUNKS = 4096;
const uint32_t NO_NODE = UINT32_MAX;

class NodePool
{
  public:
    ~NodePool()
    {
        uint32_t chunks = mChunkCount.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < chunks; ++i)
        {
            delete[] mChunks[i].load(std::memory_order_relaxed);
        }
    }

    /* NULL when memory is short. */
    CorvexMsgNode* take()
    {
        PooledNode* node = pop();
        if (node == NULL)
        {
            node = grow();
        }
        if (node == NULL)
        {
            return NULL;
        }
        node->mNode.mMsg = NULL;
        node->mNode.mSubscription = NULL;
        node->mNode.mNext = NULL;
        return &node->mNode;
    }

    void give(CorvexMsgNode* given)
    {
        PooledNode* node = reinterpret_cast<PooledNode*>(given);
        uint64_t head = mHead.load(std::memory_order_relaxed);
        uint64_t next = 0;
        do
        {
            node->mNextFree.store(indexOf(head), std::memory_order_relaxed);
            next = pack(node->mIndex, head);
        } while (!mHead.compare_exchange_weak(head, next, std::memory_order_release,
                                              std::memory_order_relaxed));
    }

  private:
    static uint32_t indexOf(uint64_t head)
    {
        return (uint32_t)(head & 0xffffffffu);
    }

    /* The index with the count of changes advanced past the one in `head`. */
    static uint64_t pack(uint32_t index, uint64_t head)
    {
        return (((head >> 32) + 1) << 32) | index;
    }

    PooledNode* at(uint32_t index)
    {
        return &mChunks[index / NODES_PER_CHUNK].load(
            std::memory_order_acquire)[index % NODES_PER_CHUNK];
    }

    PooledNode* pop()
    {
        uint64_t head = mHead.load(std::memory_order_acquire);
        while (indexOf(head) != NO_NODE)
        {
            PooledNode* node = at(indexOf(head));
            uint64_t next = pack(node->mNextFree.load(std::memory_order_relaxed), head);
            if (mHead.compare_exchange_weak(head, next, std::memory_order_acquire,
                                            std::memory_order_acquire))
            {
                return node;
            }
        }
        return NULL;
    }

    /* A new chunk: one node for the caller, the rest onto the stack. */
    PooledNode* grow()
    {
        std::lock_guard<std::mutex> guard(mGrowLock);
        PooledNode* node = pop();
        if (node != NULL)
        {
            return node;
        }
        uint32_t chunk = mChunkCount.load(std::memory_order_relaxed);
        if (chunk == MAX_CHUNKS)
        {
            return NULL;
        }
        PooledNode* nodes = new (std::nothrow) PooledNode[NODES_PER_CHUNK];
        if (nodes == NULL)
        {
            return NULL;
        }
        for (uint32_t i = 0; i < NODES_PER_CHUNK; ++i)
        {
            nodes[i].mIndex = chunk * NODES_PER_CHUNK + i;
        }
        mChunks[chunk].store(nodes, std::memory_order_release);
        mChunkCount.store(chunk + 1, std::memory_order_release);
        for (uint32_t i = 1; i < NODES_PER_CHUNK; ++i)
        {
            give(&nodes[i].mNode);
        }
        return &nodes[0];
    }

    std::atomic<uint64_t> mHead{NO_NODE};
    std::mutex mGrowLock;
    std::atomic<uint32_t> mChunkCount{0};
    std::atomic<PooledNode*> mChunks[MAX_CHUNKS] = {};
};

NodePool gNodes;
} // namespace

CorvexMsgNode* corvexMsgNode_take()
{
    return gNodes.take();
}

void corvexMsgNode_give(CorvexMsgNode* node)
{
    gNodes.give(node);
}

void corvexMsgNode_release(CorvexMsgNode* node)
{
    if (node->mMsg != NULL)
    {
        corvexClient_msg_free(&node->mMsg);
    }
    gNodes.give(node);
}
