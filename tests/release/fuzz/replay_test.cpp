// Replays the seed corpus of one fuzz entry point (FUZZ_CORPUS, below tests/release/fuzz_corpus/)
// so that every build checks the entry point's invariants without a fuzzer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(FuzzReplay, SeedCorpus) {
    const char* source = std::getenv("DF_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::filesystem::path dir = std::filesystem::path(source) / "tests/release/fuzz_corpus" / FUZZ_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
        ++replayed;
    }
    EXPECT_GT(replayed, 10);
}
