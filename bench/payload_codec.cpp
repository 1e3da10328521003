/* Encode and decode cost of "corvexmsg" messages through the MAMA message API,
 * beside the cost of copying the same number of bytes with memcpy, all in one
 * run: payload_codec [-n iterations] [-case name]
 *
 * Three messages: a market-data update of 20 fields (prices, sizes, times,
 * strings, a sequence number, doubles), one 1,000-element F64 vector, and the
 * message mamabench sends (sequence number, symbol index, send time and a
 * 100-byte opaque, of which it updates the first three). -case runs one of
 * them only (for a profiler).
 * Encode updates every field's value and serialises the message, as a
 * publisher does before each send. Decode is the receive path of the bridge:
 * one host message, created once, is handed each buffer with
 * mamaMsgImpl_setMsgBuffer, and every field is read back. Times are the CPU
 * time of the thread (on a machine shared with other work, time spent waiting
 * for a core does not count). Each figure is the median of 5 runs; without
 * -n, the iteration count is chosen from a warm-up so that a case takes about
 * half a second. */
#include <mama/mama.h>
#include <mama/datetime.h>
#include <mama/integration/msg.h>
#include <mama/msg.h>
#include <mama/price.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace
{

/* The calling thread's CPU time, as a std::chrono clock. */
struct Clock
{
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<Clock>;
    static constexpr bool is_steady = true;

    static time_point now()
    {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
    }
};

constexpr int REPETITIONS = 5;
constexpr double TARGET_SECONDS_PER_CASE = 0.5;
constexpr uint64_t WARMUP_ITERATIONS = 2000;
constexpr size_t VECTOR_ELEMENTS = 1000;

/* Results land here so that the compiler keeps the work that produced them. */
volatile double gSink = 0;

void check(mama_status status, const char* what)
{
    if (status == MAMA_STATUS_OK)
    {
        return;
    }
    fprintf(stderr, "payload_codec: %s failed: %s\n", what, mamaStatus_stringForStatus(status));
    exit(1);
}

[[noreturn]] void mismatch(const char* caseName, const char* field)
{
    fprintf(stderr, "payload_codec: %s: field %s decoded with a value other than the one encoded\n",
            caseName, field);
    exit(1);
}

/* One benchmarked message. Values are a function of the iteration number, so
 * that each encode writes new ones and a decode can be checked against the
 * iteration that encoded it. */
class Case
{
  public:
    virtual ~Case() = default;
    virtual const char* name() const = 0;
    /* Adds every field, with the values of iteration 0. */
    virtual void add(mamaMsg msg) = 0;
    /* Sets every field to the values of iteration i. */
    virtual void update(mamaMsg msg, uint64_t i) = 0;
    /* Reads every field of a decoded message; the sum of what was read. */
    virtual double read(mamaMsg msg) = 0;
    /* Exits unless msg holds the values of iteration i. */
    virtual void verify(mamaMsg msg, uint64_t i) = 0;
};

/* A quote and trade update: six prices, four sizes, three times, three
 * strings, a sequence number and three doubles. */
class MarketData : public Case
{
  public:
    MarketData()
    {
        for (Price& p : mPrices)
        {
            check(mamaPrice_create(&p.mValue), "mamaPrice_create");
            check(mamaPrice_setPrecision(p.mValue, MAMA_PRICE_PREC_100), "mamaPrice_setPrecision");
        }
        for (Time& t : mTimes)
        {
            check(mamaDateTime_create(&t.mValue), "mamaDateTime_create");
        }
        check(mamaPrice_create(&mReadPrice), "mamaPrice_create");
        check(mamaDateTime_create(&mReadTime), "mamaDateTime_create");
    }

    ~MarketData() override
    {
        for (Price& p : mPrices)
        {
            mamaPrice_destroy(p.mValue);
        }
        for (Time& t : mTimes)
        {
            mamaDateTime_destroy(t.mValue);
        }
        mamaPrice_destroy(mReadPrice);
        mamaDateTime_destroy(mReadTime);
    }

    const char* name() const override
    {
        return "market-data";
    }

    void add(mamaMsg msg) override
    {
        setValues(0);
        check(mamaMsg_addI64(msg, "SeqNum", 10, seqNum(0)), "mamaMsg_addI64");
        for (const Text& s : mStrings)
        {
            check(mamaMsg_addString(msg, s.mName, s.mFid, s.mValue(0)), "mamaMsg_addString");
        }
        for (const Price& p : mPrices)
        {
            check(mamaMsg_addPrice(msg, p.mName, p.mFid, p.mValue), "mamaMsg_addPrice");
        }
        for (const Size& s : mSizes32)
        {
            check(mamaMsg_addI32(msg, s.mName, s.mFid, s.mValue(0)), "mamaMsg_addI32");
        }
        check(mamaMsg_addI64(msg, "TotalVolume", 40, totalVolume(0)), "mamaMsg_addI64");
        for (const Time& t : mTimes)
        {
            check(mamaMsg_addDateTime(msg, t.mName, t.mFid, t.mValue), "mamaMsg_addDateTime");
        }
        for (const Real& r : mReals)
        {
            check(mamaMsg_addF64(msg, r.mName, r.mFid, r.mValue(0)), "mamaMsg_addF64");
        }
    }

    void update(mamaMsg msg, uint64_t i) override
    {
        setValues(i);
        check(mamaMsg_updateI64(msg, "SeqNum", 10, seqNum(i)), "mamaMsg_updateI64");
        for (const Text& s : mStrings)
        {
            check(mamaMsg_updateString(msg, s.mName, s.mFid, s.mValue(i)), "mamaMsg_updateString");
        }
        for (const Price& p : mPrices)
        {
            check(mamaMsg_updatePrice(msg, p.mName, p.mFid, p.mValue), "mamaMsg_updatePrice");
        }
        for (const Size& s : mSizes32)
        {
            check(mamaMsg_updateI32(msg, s.mName, s.mFid, s.mValue(i)), "mamaMsg_updateI32");
        }
        check(mamaMsg_updateI64(msg, "TotalVolume", 40, totalVolume(i)), "mamaMsg_updateI64");
        for (const Time& t : mTimes)
        {
            check(mamaMsg_updateDateTime(msg, t.mName, t.mFid, t.mValue), "mamaMsg_updateDateTime");
        }
        for (const Real& r : mReals)
        {
            check(mamaMsg_updateF64(msg, r.mName, r.mFid, r.mValue(i)), "mamaMsg_updateF64");
        }
    }

    double read(mamaMsg msg) override
    {
        double sum = 0;
        mama_i64_t i64 = 0;
        check(mamaMsg_getI64(msg, "SeqNum", 10, &i64), "mamaMsg_getI64");
        sum += static_cast<double>(i64);
        for (const Text& s : mStrings)
        {
            const char* text = nullptr;
            check(mamaMsg_getString(msg, s.mName, s.mFid, &text), "mamaMsg_getString");
            sum += text[0];
        }
        for (const Price& p : mPrices)
        {
            double value = 0;
            check(mamaMsg_getPrice(msg, p.mName, p.mFid, mReadPrice), "mamaMsg_getPrice");
            check(mamaPrice_getValue(mReadPrice, &value), "mamaPrice_getValue");
            sum += value;
        }
        for (const Size& s : mSizes32)
        {
            mama_i32_t i32 = 0;
            check(mamaMsg_getI32(msg, s.mName, s.mFid, &i32), "mamaMsg_getI32");
            sum += i32;
        }
        check(mamaMsg_getI64(msg, "TotalVolume", 40, &i64), "mamaMsg_getI64");
        sum += static_cast<double>(i64);
        for (const Time& t : mTimes)
        {
            mama_u64_t micros = 0;
            check(mamaMsg_getDateTime(msg, t.mName, t.mFid, mReadTime), "mamaMsg_getDateTime");
            check(mamaDateTime_getEpochTimeMicroseconds(mReadTime, &micros),
                  "mamaDateTime_getEpochTimeMicroseconds");
            sum += static_cast<double>(micros);
        }
        for (const Real& r : mReals)
        {
            mama_f64_t f64 = 0;
            check(mamaMsg_getF64(msg, r.mName, r.mFid, &f64), "mamaMsg_getF64");
            sum += f64;
        }
        return sum;
    }

    void verify(mamaMsg msg, uint64_t i) override
    {
        setValues(i);
        mama_i64_t i64 = 0;
        check(mamaMsg_getI64(msg, "SeqNum", 10, &i64), "mamaMsg_getI64");
        if (i64 != seqNum(i))
        {
            mismatch(name(), "SeqNum");
        }
        for (const Text& s : mStrings)
        {
            const char* text = nullptr;
            check(mamaMsg_getString(msg, s.mName, s.mFid, &text), "mamaMsg_getString");
            if (std::strcmp(text, s.mValue(i)) != 0)
            {
                mismatch(name(), s.mName);
            }
        }
        for (const Price& p : mPrices)
        {
            double expected = 0;
            double value = 0;
            check(mamaPrice_getValue(p.mValue, &expected), "mamaPrice_getValue");
            check(mamaMsg_getPrice(msg, p.mName, p.mFid, mReadPrice), "mamaMsg_getPrice");
            check(mamaPrice_getValue(mReadPrice, &value), "mamaPrice_getValue");
            /* a payload may carry prices as decimals: equal within rounding */
            if (std::fabs(value - expected) > 1e-9 * std::fabs(expected))
            {
                mismatch(name(), p.mName);
            }
        }
        for (const Size& s : mSizes32)
        {
            mama_i32_t i32 = 0;
            check(mamaMsg_getI32(msg, s.mName, s.mFid, &i32), "mamaMsg_getI32");
            if (i32 != s.mValue(i))
            {
                mismatch(name(), s.mName);
            }
        }
        check(mamaMsg_getI64(msg, "TotalVolume", 40, &i64), "mamaMsg_getI64");
        if (i64 != totalVolume(i))
        {
            mismatch(name(), "TotalVolume");
        }
        for (const Time& t : mTimes)
        {
            mama_u64_t expected = 0;
            mama_u64_t micros = 0;
            check(mamaDateTime_getEpochTimeMicroseconds(t.mValue, &expected),
                  "mamaDateTime_getEpochTimeMicroseconds");
            check(mamaMsg_getDateTime(msg, t.mName, t.mFid, mReadTime), "mamaMsg_getDateTime");
            check(mamaDateTime_getEpochTimeMicroseconds(mReadTime, &micros),
                  "mamaDateTime_getEpochTimeMicroseconds");
            if (micros != expected)
            {
                mismatch(name(), t.mName);
            }
        }
        for (const Real& r : mReals)
        {
            mama_f64_t f64 = 0;
            check(mamaMsg_getF64(msg, r.mName, r.mFid, &f64), "mamaMsg_getF64");
            if (f64 != r.mValue(i))
            {
                mismatch(name(), r.mName);
            }
        }
    }

  private:
    struct Price
    {
        const char* mName;
        mama_fid_t mFid;
        int mOffsetCents; /* from the bid */
        mamaPrice mValue;
    };
    struct Time
    {
        const char* mName;
        mama_fid_t mFid;
        uint64_t mOffsetMicros; /* from the quote time */
        mamaDateTime mValue;
    };
    struct Text
    {
        const char* mName;
        mama_fid_t mFid;
        const char* (*mValue)(uint64_t i);
    };
    struct Size
    {
        const char* mName;
        mama_fid_t mFid;
        mama_i32_t (*mValue)(uint64_t i);
    };
    struct Real
    {
        const char* mName;
        mama_fid_t mFid;
        mama_f64_t (*mValue)(uint64_t i);
    };

    static mama_i64_t seqNum(uint64_t i)
    {
        return static_cast<mama_i64_t>(i + 1);
    }
    static mama_i64_t totalVolume(uint64_t i)
    {
        return static_cast<mama_i64_t>(1000000 + 100 * i);
    }

    /* Prices and times live in host objects: set them for iteration i. */
    void setValues(uint64_t i)
    {
        const int bidCents = 10000 + static_cast<int>(i % 100);
        for (Price& p : mPrices)
        {
            check(mamaPrice_setValue(p.mValue, (bidCents + p.mOffsetCents) / 100.0),
                  "mamaPrice_setValue");
        }
        const uint64_t quoteMicros = 1700000000000000ull + 37 * i;
        for (Time& t : mTimes)
        {
            check(mamaDateTime_setEpochTimeMicroseconds(t.mValue, quoteMicros - t.mOffsetMicros),
                  "mamaDateTime_setEpochTimeMicroseconds");
        }
    }

    /* Same lengths at every iteration: the encoded size stays the same. */
    static const char* symbol(uint64_t)
    {
        return "ABCD.N";
    }
    static const char* exchange(uint64_t i)
    {
        static const char* const values[] = {"N", "Q", "P"};
        return values[i % 3];
    }
    static const char* condition(uint64_t i)
    {
        static const char* const values[] = {"@F", "@T", "@R", "@Z"};
        return values[i % 4];
    }
    static mama_i32_t bidSize(uint64_t i)
    {
        return static_cast<mama_i32_t>(100 * (1 + i % 50));
    }
    static mama_i32_t askSize(uint64_t i)
    {
        return static_cast<mama_i32_t>(100 * (1 + i % 70));
    }
    static mama_i32_t tradeSize(uint64_t i)
    {
        return static_cast<mama_i32_t>(1 + i % 1000);
    }
    static mama_f64_t vwap(uint64_t i)
    {
        return 100.25 + static_cast<double>(i % 1000) * 1e-4;
    }
    static mama_f64_t netChange(uint64_t i)
    {
        return (static_cast<double>(i % 200) - 100) * 0.01;
    }
    static mama_f64_t pctChange(uint64_t i)
    {
        return netChange(i) / 1.0025;
    }

    Price mPrices[6] = {{"BidPrice", 20, 0, nullptr},   {"AskPrice", 21, 1, nullptr},
                        {"TradePrice", 22, 0, nullptr}, {"OpenPrice", 23, -50, nullptr},
                        {"HighPrice", 24, 75, nullptr}, {"LowPrice", 25, -80, nullptr}};
    Time mTimes[3] = {{"QuoteTime", 50, 0, nullptr},
                      {"TradeTime", 51, 1500, nullptr},
                      {"LineTime", 52, 20, nullptr}};
    const Text mStrings[3] = {
        {"Symbol", 11, symbol}, {"Exchange", 12, exchange}, {"TradeCondition", 13, condition}};
    const Size mSizes32[3] = {
        {"BidSize", 30, bidSize}, {"AskSize", 31, askSize}, {"TradeSize", 32, tradeSize}};
    const Real mReals[3] = {
        {"Vwap", 60, vwap}, {"NetChange", 61, netChange}, {"PctChange", 62, pctChange}};
    mamaPrice mReadPrice = nullptr;
    mamaDateTime mReadTime = nullptr;
};

/* One field: a curve of 1,000 doubles, one of which changes per iteration.
 * Decode fetches the vector and touches its ends; verify checks it all. */
class Vector : public Case
{
  public:
    Vector()
    {
        for (size_t k = 0; k < VECTOR_ELEMENTS; ++k)
        {
            mValues.push_back(element(0, k));
        }
    }

    const char* name() const override
    {
        return "vector-f64";
    }

    void add(mamaMsg msg) override
    {
        check(mamaMsg_addVectorF64(msg, "Curve", 100, mValues.data(), mValues.size()),
              "mamaMsg_addVectorF64");
    }

    void update(mamaMsg msg, uint64_t i) override
    {
        mValues[i % VECTOR_ELEMENTS] = element(i, i % VECTOR_ELEMENTS);
        check(mamaMsg_updateVectorF64(msg, "Curve", 100, mValues.data(), mValues.size()),
              "mamaMsg_updateVectorF64");
    }

    double read(mamaMsg msg) override
    {
        const mama_f64_t* values = nullptr;
        mama_size_t count = 0;
        check(mamaMsg_getVectorF64(msg, "Curve", 100, &values, &count), "mamaMsg_getVectorF64");
        if (count == 0)
        {
            mismatch(name(), "Curve");
        }
        return static_cast<double>(count) + values[0] + values[count - 1];
    }

    /* The values of iteration i are those the last update left behind. */
    void verify(mamaMsg msg, uint64_t) override
    {
        const mama_f64_t* values = nullptr;
        mama_size_t count = 0;
        check(mamaMsg_getVectorF64(msg, "Curve", 100, &values, &count), "mamaMsg_getVectorF64");
        if (count != mValues.size() ||
            std::memcmp(values, mValues.data(), count * sizeof(mama_f64_t)) != 0)
        {
            mismatch(name(), "Curve");
        }
    }

  private:
    /* Element k as iteration i writes it. */
    static mama_f64_t element(uint64_t i, size_t k)
    {
        return 0.03 + static_cast<double>(k) * 1e-5 + static_cast<double>(i) * 1e-9;
    }

    std::vector<mama_f64_t> mValues;
};

/* mamabench's message: three numbers updated per send, a pad left as it is;
 * the subscriber reads the numbers by name and fid. */
class Sequenced : public Case
{
  public:
    Sequenced() : mPad(PAD_BYTES, 0) {}

    const char* name() const override
    {
        return "sequenced";
    }

    void add(mamaMsg msg) override
    {
        check(mamaMsg_addU64(msg, "seq", 10001, 0), "mamaMsg_addU64");
        check(mamaMsg_addU32(msg, "sym", 10002, 0), "mamaMsg_addU32");
        check(mamaMsg_addU64(msg, "sent", 10003, 0), "mamaMsg_addU64");
        check(mamaMsg_addOpaque(msg, "pad", 10004, mPad.data(), mPad.size()), "mamaMsg_addOpaque");
    }

    void update(mamaMsg msg, uint64_t i) override
    {
        check(mamaMsg_updateU64(msg, "seq", 10001, i), "mamaMsg_updateU64");
        check(mamaMsg_updateU32(msg, "sym", 10002, symbol(i)), "mamaMsg_updateU32");
        check(mamaMsg_updateU64(msg, "sent", 10003, sent(i)), "mamaMsg_updateU64");
    }

    double read(mamaMsg msg) override
    {
        mama_u64_t seq = 0;
        mama_u32_t sym = 0;
        mama_u64_t time = 0;
        check(mamaMsg_getU64(msg, "seq", 10001, &seq), "mamaMsg_getU64");
        check(mamaMsg_getU32(msg, "sym", 10002, &sym), "mamaMsg_getU32");
        check(mamaMsg_getU64(msg, "sent", 10003, &time), "mamaMsg_getU64");
        return static_cast<double>(seq + sym + time);
    }

    void verify(mamaMsg msg, uint64_t i) override
    {
        mama_u64_t seq = 0;
        mama_u32_t sym = 0;
        mama_u64_t time = 0;
        const void* pad = nullptr;
        mama_size_t padSize = 0;
        check(mamaMsg_getU64(msg, "seq", 10001, &seq), "mamaMsg_getU64");
        check(mamaMsg_getU32(msg, "sym", 10002, &sym), "mamaMsg_getU32");
        check(mamaMsg_getU64(msg, "sent", 10003, &time), "mamaMsg_getU64");
        check(mamaMsg_getOpaque(msg, "pad", 10004, &pad, &padSize), "mamaMsg_getOpaque");
        if (seq != i)
        {
            mismatch(name(), "seq");
        }
        if (sym != symbol(i))
        {
            mismatch(name(), "sym");
        }
        if (time != sent(i))
        {
            mismatch(name(), "sent");
        }
        if (padSize != mPad.size() || std::memcmp(pad, mPad.data(), padSize) != 0)
        {
            mismatch(name(), "pad");
        }
    }

  private:
    static constexpr size_t PAD_BYTES = 100;

    static mama_u32_t symbol(uint64_t i)
    {
        return static_cast<mama_u32_t>(i % 7);
    }
    static mama_u64_t sent(uint64_t i)
    {
        return 1700000000000000000ull + 1000 * i;
    }

    std::vector<uint8_t> mPad;
};

struct Result
{
    uint64_t mIterations = 0;
    size_t mBytes = 0;
    double mEncodeNs = 0;
    double mDecodeNs = 0;
    double mMemcpyNs = 0;
};

double nsPerIteration(Clock::time_point start, Clock::time_point end, uint64_t iterations)
{
    return std::chrono::duration<double, std::nano>(end - start).count() /
           static_cast<double>(iterations);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/* Encodes iterations [first, first + count) into msg; ns per message. */
double encode(Case* c, mamaMsg msg, uint64_t first, uint64_t count)
{
    const void* buffer = nullptr;
    mama_size_t length = 0;
    size_t total = 0;
    const Clock::time_point start = Clock::now();
    for (uint64_t i = first; i < first + count; ++i)
    {
        c->update(msg, i);
        check(mamaMsg_getByteBuffer(msg, &buffer, &length), "mamaMsg_getByteBuffer");
        total += length;
    }
    const Clock::time_point end = Clock::now();
    gSink = gSink + static_cast<double>(total);
    return nsPerIteration(start, end, count);
}

/* Decodes wire into msg count times, reading every field; ns per message. */
double decode(Case* c, mamaMsg msg, const std::vector<uint8_t>& wire, uint64_t count)
{
    double sum = 0;
    const Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
    {
        check(mamaMsgImpl_setMsgBuffer(msg, wire.data(), static_cast<uint32_t>(wire.size()), 0),
              "mamaMsgImpl_setMsgBuffer");
        sum += c->read(msg);
    }
    const Clock::time_point end = Clock::now();
    gSink = gSink + sum;
    return nsPerIteration(start, end, count);
}

/* Copies wire into target count times; ns per copy. */
double copy(const std::vector<uint8_t>& wire, std::vector<uint8_t>* target, uint64_t count)
{
    const Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
    {
        std::memcpy(target->data(), wire.data(), wire.size());
        /* the copy counts as read: the compiler may not drop it */
        __asm__ __volatile__("" : : "r"(target->data()) : "memory");
    }
    const Clock::time_point end = Clock::now();
    gSink = gSink + (*target)[wire.size() / 2];
    return nsPerIteration(start, end, count);
}

Result run(Case* c, mamaPayloadBridge bridge, uint64_t iterations)
{
    mamaMsg msg = nullptr;
    check(mamaMsg_createForPayloadBridge(&msg, bridge), "mamaMsg_createForPayloadBridge");
    c->add(msg);
    mamaMsg received = nullptr;
    check(mamaMsgImpl_createForPayload(&received, nullptr, nullptr, 0),
          "mamaMsgImpl_createForPayload");

    /* Warm-up, which also checks that what is encoded decodes to the same values. */
    uint64_t next = 1;
    const double warmEncode = encode(c, msg, next, WARMUP_ITERATIONS);
    next += WARMUP_ITERATIONS;
    const void* buffer = nullptr;
    mama_size_t length = 0;
    check(mamaMsg_getByteBuffer(msg, &buffer, &length), "mamaMsg_getByteBuffer");
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    const std::vector<uint8_t> wire(bytes, bytes + length);
    std::vector<uint8_t> copied(wire.size());
    const double warmDecode = decode(c, received, wire, WARMUP_ITERATIONS);
    c->verify(received, next - 1);
    copy(wire, &copied, WARMUP_ITERATIONS);

    Result result;
    result.mBytes = wire.size();
    result.mIterations = iterations;
    if (result.mIterations == 0)
    {
        const double perRunNs = TARGET_SECONDS_PER_CASE * 1e9 / REPETITIONS;
        result.mIterations =
            std::max<uint64_t>(1000, static_cast<uint64_t>(perRunNs / (warmEncode + warmDecode)));
    }

    std::vector<double> encodeNs;
    std::vector<double> decodeNs;
    std::vector<double> memcpyNs;
    for (int r = 0; r < REPETITIONS; ++r)
    {
        encodeNs.push_back(encode(c, msg, next, result.mIterations));
        next += result.mIterations;
        decodeNs.push_back(decode(c, received, wire, result.mIterations));
        memcpyNs.push_back(copy(wire, &copied, result.mIterations));
    }
    result.mEncodeNs = median(encodeNs);
    result.mDecodeNs = median(decodeNs);
    result.mMemcpyNs = median(memcpyNs);

    /* the last decoded payload belongs to the message: have it freed with it */
    check(mamaMsgImpl_setMessageOwner(received, 1), "mamaMsgImpl_setMessageOwner");
    check(mamaMsg_destroy(received), "mamaMsg_destroy");
    check(mamaMsg_destroy(msg), "mamaMsg_destroy");
    return result;
}

[[noreturn]] void usage()
{
    fprintf(stderr,
            "usage: payload_codec [-n iterations] [-case market-data|vector-f64|sequenced]\n");
    exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t iterations = 0;
    const char* only = nullptr;
    for (int a = 1; a < argc; ++a)
    {
        if (std::strcmp(argv[a], "-case") == 0 && a + 1 < argc)
        {
            only = argv[++a];
            continue;
        }
        if (std::strcmp(argv[a], "-n") == 0 && a + 1 < argc)
        {
            char* end = nullptr;
            iterations = strtoull(argv[++a], &end, 10);
            if (*end != '\0' || iterations == 0)
            {
                usage();
            }
        }
        else
        {
            usage();
        }
    }

    mamaPayloadBridge bridge = nullptr;
    check(mama_loadPayloadBridge(&bridge, "corvexmsg"), "mama_loadPayloadBridge (corvexmsg)");

    MarketData marketData;
    Vector vector;
    Sequenced sequenced;
    Case* const cases[] = {&marketData, &vector, &sequenced};
    std::vector<std::pair<const char*, Result>> results;
    for (Case* c : cases)
    {
        if (only == nullptr || std::strcmp(only, c->name()) == 0)
        {
            results.emplace_back(c->name(), run(c, bridge, iterations));
        }
    }
    if (results.empty())
    {
        usage();
    }

    printf("%-12s %8s %10s %10s %10s %14s %14s\n", "case", "bytes", "encode ns", "decode ns",
           "memcpy ns", "decode/memcpy", "encode/memcpy");
    for (const auto& [name, r] : results)
    {
        printf("%-12s %8zu %10.1f %10.1f %10.1f %14.1f %14.1f\n", name, r.mBytes, r.mEncodeNs,
               r.mDecodeNs, r.mMemcpyNs, r.mDecodeNs / r.mMemcpyNs, r.mEncodeNs / r.mMemcpyNs);
    }
    printf("CPU ns per message, median of %d runs of", REPETITIONS);
    for (size_t k = 0; k < results.size(); ++k)
    {
        printf("%s %llu (%s)", k == 0 ? "" : ",",
               static_cast<unsigned long long>(results[k].second.mIterations), results[k].first);
    }
    printf(" messages\n");
    return 0;
}
