// The pieces of a transfer and the record kept of them: a record is read back only when it is
// whole and describes the transfer it is found beside (portable).
#include "job/pieces.h"

#include <gtest/gtest.h>

using namespace df::setup;

TEST(Pieces, SizesAndLayout) {
    EXPECT_EQ(piece_size_for(3 << 20), 1u << 20);
    EXPECT_EQ(piece_size_for(64u << 20), 1u << 20);
    EXPECT_EQ(piece_size_for((64u << 20) + 1), (1u << 20) + 1);
    EXPECT_EQ(piece_size_for(1ull << 40), 8u << 20);
    PieceLayout l{(3u << 20) + 5, 1u << 20};
    EXPECT_EQ(l.count(), 4u);
    EXPECT_EQ(l.first(3), 3u << 20);
    EXPECT_EQ(l.length(3), 5u);
    EXPECT_EQ(l.length(2), 1u << 20);
}

TEST(Pieces, RecordReadBackOnlyWhenWholeAndMatching) {
    const std::string D(64, 'a'), E(64, 'b');
    const PieceRecord r{2500, D, 1000, {1000, 17, 0}};
    const std::string text = record_text(r);
    auto back = read_record(text, 2500, D);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->done, r.done);
    EXPECT_EQ(back->piece, 1000u);
    // A shorter record written over a longer one leaves its tail behind the check line.
    EXPECT_TRUE(read_record(text + "0 0 0\ncheck 00000000\n", 2500, D));

    auto changed = [&](std::string from, std::string to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    struct Case {
        const char* what;
        std::string text;
        std::uint64_t size;
        std::string sha256;
    } refused[] = {
        {"another size", text, 2501, D},
        {"another digest", text, 2500, E},
        {"a changed count", changed("done 1000 17", "done 1000 18"), 2500, D},
        {"cut short", text.substr(0, text.size() - 2), 2500, D},
        {"no check", text.substr(0, text.find("check")), 2500, D},
        {"empty", "", 2500, D},
        {"a piece holding more than its length", record_text({2500, D, 1000, {1001, 0, 0}}), 2500, D},
        {"the last piece past its length", record_text({2500, D, 1000, {0, 0, 501}}), 2500, D},
        {"a piece too few", record_text({2500, D, 1000, {0, 0}}), 2500, D},
        {"a piece too many", record_text({2500, D, 1000, {0, 0, 0, 0}}), 2500, D},
        {"pieces of no size", record_text({2500, D, 0, {}}), 2500, D},
    };
    for (const Case& c : refused) EXPECT_FALSE(read_record(c.text, c.size, c.sha256)) << c.what;
}
