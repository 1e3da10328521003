/* Writes the seed corpus of the corvexmsg fuzz target:
 *   corvexmsg_fuzz_corpus [--check] <directory>
 * valid-* are messages built through the host's message API and encoded by
 * the payload; damaged-* are truncated or corrupted copies of some of them.
 * Earlier valid-* and damaged-* files in the directory are replaced; other
 * files (reproducers of past findings) are kept. With --check nothing is
 * written: every file is compared with the one in the directory, and the
 * exit status is 1 when any differs (the encoder no longer writes the bytes
 * it wrote). */
#include <mama/mama.h>
#include <mama/msg.h>
#include <mama/reservedfields.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

fs::path gDir;
bool gCheck = false;
int gDifferent = 0;
mamaPayloadBridge gBridge = nullptr;

void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        std::fprintf(stderr, "corvexmsg_fuzz_corpus: %s: %s\n", what,
                     mamaStatus_stringForStatus(status));
        std::exit(1);
    }
}

mamaMsg create()
{
    mamaMsg msg = nullptr;
    check(mamaMsg_createForPayloadBridge(&msg, gBridge), "create");
    return msg;
}

Bytes encode(mamaMsg msg)
{
    const void* buffer = nullptr;
    mama_size_t length = 0;
    check(mamaMsg_getByteBuffer(msg, &buffer, &length), "encode");
    const unsigned char* b = static_cast<const unsigned char*>(buffer);
    return Bytes(b, b + length);
}

void write(const std::string& name, const Bytes& bytes)
{
    if (gCheck)
    {
        std::ifstream in(gDir / name, std::ios::binary);
        const Bytes there((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open() || there != bytes)
        {
            std::fprintf(stderr, "corvexmsg_fuzz_corpus: %s differs\n", name.c_str());
            ++gDifferent;
        }
        return;
    }
    std::ofstream out(gDir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
    {
        std::fprintf(stderr, "corvexmsg_fuzz_corpus: cannot write %s\n", name.c_str());
        std::exit(1);
    }
}

/* Writes the message as valid-<name> and destroys it. */
Bytes keep(const std::string& name, mamaMsg msg)
{
    Bytes bytes = encode(msg);
    mamaMsg_destroy(msg);
    write("valid-" + name, bytes);
    return bytes;
}

void scalars(mamaMsg m, mama_fid_t base)
{
    check(mamaMsg_addBool(m, "bool", base + 1, 1), "bool");
    check(mamaMsg_addChar(m, "char", base + 2, 'x'), "char");
    check(mamaMsg_addI8(m, "i8", base + 3, std::numeric_limits<mama_i8_t>::min()), "i8");
    check(mamaMsg_addU8(m, "u8", base + 4, std::numeric_limits<mama_u8_t>::max()), "u8");
    check(mamaMsg_addI16(m, "i16", base + 5, std::numeric_limits<mama_i16_t>::min()), "i16");
    check(mamaMsg_addU16(m, "u16", base + 6, std::numeric_limits<mama_u16_t>::max()), "u16");
    check(mamaMsg_addI32(m, "i32", base + 7, -123456789), "i32");
    check(mamaMsg_addU32(m, "u32", base + 8, std::numeric_limits<mama_u32_t>::max()), "u32");
    check(mamaMsg_addI64(m, "i64", base + 9, std::numeric_limits<mama_i64_t>::min()), "i64");
    check(mamaMsg_addU64(m, "u64", base + 10, std::numeric_limits<mama_u64_t>::max()), "u64");
    check(mamaMsg_addF32(m, "f32", base + 11, 1.5f), "f32");
    check(mamaMsg_addF64(m, "f64", base + 12, -2.25e300), "f64");
}

} // namespace

int main(int argc, char** argv)
{
    gCheck = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !gCheck)
    {
        std::fprintf(stderr, "usage: %s [--check] <corpus directory>\n", argv[0]);
        return 2;
    }
    gDir = argv[argc - 1];
    if (!gCheck)
    {
        fs::create_directories(gDir);
        for (const fs::directory_entry& e : fs::directory_iterator(gDir))
        {
            const std::string name = e.path().filename().string();
            if (name.rfind("valid-", 0) == 0 || name.rfind("damaged-", 0) == 0)
            {
                fs::remove(e.path());
            }
        }
    }
    check(mama_loadPayloadBridge(&gBridge, "corvexmsg"), "load the corvexmsg payload");

    keep("empty", create());
    mamaMsg m = create();
    scalars(m, 100);
    const Bytes scalarBytes = keep("scalars", m);

    m = create();
    const unsigned char opaque[] = {0, 1, 2, 0xfe, 0xff, 0, 'x'};
    check(mamaMsg_addString(m, "text", 20, "hello, world"), "string");
    check(mamaMsg_addString(m, "empty", 21, ""), "empty string");
    check(mamaMsg_addString(m, nullptr, 22, "fid only"), "unnamed string");
    check(mamaMsg_addString(m, "name only", 0, std::string(300, 'n').c_str()), "long string");
    check(mamaMsg_addOpaque(m, "opaque", 23, opaque, sizeof opaque), "opaque");
    check(mamaMsg_addOpaque(m, "no bytes", 24, opaque, 0), "empty opaque");
    check(mamaMsg_addI32(m, "text", 20, 7), "repeated fid and name");
    const Bytes textBytes = keep("text", m);

    m = create();
    check(mamaMsg_addF64(m, "nan", 1, std::nan("")), "nan");
    check(mamaMsg_addF64(m, "-inf", 2, -HUGE_VAL), "inf");
    check(mamaMsg_addF64(m, "-0", 3, -0.0), "-0");
    check(mamaMsg_addF64(m, "denormal", 4, std::numeric_limits<double>::denorm_min()), "denormal");
    check(mamaMsg_addF32(m, "f32 max", 5, std::numeric_limits<float>::max()), "f32 max");
    keep("floats", m);

    m = create();
    check(mamaMsg_addI32(m, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, MAMA_MSG_TYPE_UPDATE),
          "type");
    check(mamaMsg_addI32(m, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid, MAMA_MSG_STATUS_OK),
          "status");
    check(mamaMsg_addString(m, MamaFieldSubscSymbol.mName, MamaFieldSubscSymbol.mFid, "CVX.N"),
          "symbol");
    check(mamaMsg_addI64(m, MamaFieldSeqNum.mName, MamaFieldSeqNum.mFid, 42), "seqnum");
    check(mamaMsg_addF64(m, "wBidPrice", 237, 101.25), "bid");
    keep("update", m);

    mamaDateTime when = nullptr;
    mamaPrice price = nullptr;
    check(mamaDateTime_create(&when), "date-time");
    check(mamaDateTime_setEpochTimeMicroseconds(when, 1700000000123456ULL), "date-time");
    check(mamaPrice_create(&price), "price");
    check(mamaPrice_setValue(price, 99.875), "price");
    m = create();
    check(mamaMsg_addDateTime(m, "when", 30, when), "date-time");
    check(mamaMsg_addPrice(m, "price", 31, price), "price");
    keep("time-price", m);

    mamaMsg inner = create();
    check(mamaMsg_addString(inner, "level", 1, "inner"), "inner");
    mamaMsg middle = create();
    scalars(middle, 0);
    check(mamaMsg_addMsg(middle, "inner", 2, inner), "middle");
    m = create();
    check(mamaMsg_addMsg(m, "middle", 3, middle), "outer");
    check(mamaMsg_addString(m, "after", 4, "after"), "after");
    const Bytes nestedBytes = keep("nested", m);
    mamaMsg_destroy(middle);

    /* each level holds the one below and a string */
    mamaMsg level = inner;
    for (int i = 0; i < 8; ++i)
    {
        mamaMsg above = create();
        check(mamaMsg_addMsg(above, "down", 1, level), "deep");
        check(mamaMsg_addString(above, "level", 2, "x"), "deep");
        mamaMsg_destroy(level);
        level = above;
    }
    keep("deep", level);

    m = create();
    const mama_bool_t bools[] = {1, 0, 1};
    const char chars[] = {'a', 'b'};
    const mama_i8_t i8s[] = {-128, 127};
    const mama_u8_t u8s[] = {0, 255};
    const mama_i16_t i16s[] = {-32768, 1};
    const mama_u16_t u16s[] = {65535};
    const mama_i32_t i32s[] = {-1, 0, 2147483647};
    const mama_u32_t u32s[] = {4294967295U, 7};
    const mama_i64_t i64s[] = {std::numeric_limits<mama_i64_t>::min(), 3};
    const mama_u64_t u64s[] = {0, 18446744073709551615ULL};
    const mama_f32_t f32s[] = {-0.5f, 3.25f};
    const mama_f64_t f64s[] = {0.5, -1e-300};
    const char* strings[] = {"one", "", "three"};
    check(mamaMsg_addVectorBool(m, "vbool", 40, bools, 3), "vector bool");
    check(mamaMsg_addVectorChar(m, "vchar", 41, chars, 2), "vector char");
    check(mamaMsg_addVectorI8(m, "vi8", 42, i8s, 2), "vector i8");
    check(mamaMsg_addVectorU8(m, "vu8", 43, u8s, 2), "vector u8");
    check(mamaMsg_addVectorI16(m, "vi16", 44, i16s, 2), "vector i16");
    check(mamaMsg_addVectorU16(m, "vu16", 45, u16s, 1), "vector u16");
    check(mamaMsg_addVectorI32(m, "vi32", 46, i32s, 3), "vector i32");
    check(mamaMsg_addVectorU32(m, "vu32", 47, u32s, 2), "vector u32");
    check(mamaMsg_addVectorI64(m, "vi64", 48, i64s, 2), "vector i64");
    check(mamaMsg_addVectorU64(m, "vu64", 49, u64s, 2), "vector u64");
    check(mamaMsg_addVectorF32(m, "vf32", 50, f32s, 2), "vector f32");
    check(mamaMsg_addVectorF64(m, "vf64", 51, f64s, 2), "vector f64");
    check(mamaMsg_addVectorString(m, "vstring", 52, strings, 3), "vector string");
    check(mamaMsg_addVectorDateTime(m, "vtime", 53, &when, 1), "vector date-time");
    check(mamaMsg_addVectorPrice(m, "vprice", 54, &price, 1), "vector price");
    check(mamaMsg_addVectorI32(m, "vempty", 55, i32s, 0), "empty vector");
    mamaMsg parts[2] = {create(), create()};
    check(mamaMsg_addI32(parts[0], "part", 1, 0), "part");
    check(mamaMsg_addString(parts[1], "part", 1, "one"), "part");
    check(mamaMsg_addVectorMsg(m, "vmsg", 56, parts, 2), "vector msg");
    mamaMsg_destroy(parts[0]);
    mamaMsg_destroy(parts[1]);
    const Bytes vectorBytes = keep("vectors", m);
    mamaDateTime_destroy(when);
    mamaPrice_destroy(price);

    /* damaged copies: cut short, overlong, a bad header, a wrong count, a
     * flipped bit inside a field, damaged composites */
    Bytes b = textBytes;
    b.pop_back();
    write("damaged-truncated-by-one", b);
    write("damaged-truncated-half",
          Bytes(scalarBytes.begin(), scalarBytes.begin() + scalarBytes.size() / 2));
    write("damaged-header-only", Bytes(scalarBytes.begin(), scalarBytes.begin() + 2));
    b = scalarBytes;
    b.push_back(0);
    write("damaged-trailing-byte", b);
    b = scalarBytes;
    b[1] ^= 0xff;
    write("damaged-version", b);
    b = textBytes;
    for (size_t i = 2; i < 6 && i < b.size(); ++i)
        b[i] = 0xff;
    write("damaged-count", b);
    b = textBytes;
    b[b.size() / 2] ^= 0x80;
    write("damaged-flipped-bit", b);
    b = nestedBytes;
    b.pop_back();
    write("damaged-nested-truncated", b);
    write("damaged-vectors-truncated",
          Bytes(vectorBytes.begin(), vectorBytes.begin() + vectorBytes.size() / 2));
    b = vectorBytes;
    b[b.size() / 3] ^= 0x40;
    write("damaged-vectors-flipped-bit", b);
    return gDifferent == 0 ? 0 : 1;
}
