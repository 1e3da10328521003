/* Runs the fuzz target over a corpus without libFuzzer:
 *   corvexmsg_fuzz_replay <file or directory>...
 * Every file is one input. Files named valid-* were written by the corpus
 * generator from messages the payload itself encoded, so they must decode:
 * when they do not, the wire format changed and the corpus is stale. */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern bool gCorvexMsgFuzzDecoded;

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i)
    {
        if (fs::is_directory(argv[i]))
        {
            for (const fs::directory_entry& e : fs::directory_iterator(argv[i]))
            {
                if (e.is_regular_file())
                {
                    files.push_back(e.path());
                }
            }
        }
        else
        {
            files.push_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
    {
        std::fprintf(stderr, "usage: %s <corpus file or directory>... (no input found)\n", argv[0]);
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    size_t decoded = 0;
    size_t stale = 0;
    for (const fs::path& file : files)
    {
        std::ifstream in(file, std::ios::binary);
        if (!in)
        {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 2;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        decoded += gCorvexMsgFuzzDecoded ? 1 : 0;
        if (!gCorvexMsgFuzzDecoded && file.filename().string().rfind("valid-", 0) == 0)
        {
            std::fprintf(stderr, "%s no longer decodes\n", file.c_str());
            ++stale;
        }
    }
    std::printf("%zu inputs, %zu decoded\n", files.size(), decoded);
    if (stale != 0)
    {
        std::fprintf(stderr, "the corpus is stale: regenerate it with corvexmsg_fuzz_corpus "
                             "(payload/corvexmsg/FUZZING.md)\n");
        return 1;
    }
    return 0;
}
