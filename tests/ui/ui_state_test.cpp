// The window's state machine and display rules: what each command does in each state, the
// progress line and bar, the outcome line and the launch command.
#include "ui/text.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace df::setup;

namespace {

constexpr std::uint64_t MB = 1048576;

// Restores the language after a test that switches it.
struct Language {
    explicit Language(bool chinese) { use_chinese = chinese; }
    ~Language() { use_chinese = false; }
};

Progress files(std::int32_t done, std::int32_t total, std::uint64_t bytes_done, std::uint64_t bytes_total) {
    return Progress{L"files", done, total, bytes_done, bytes_total};
}

}  // namespace

TEST(UiState, CommandsPerState) {
    EXPECT_EQ(static_cast<int>(UiState::idle), 0);
    EXPECT_EQ(static_cast<int>(UiState::running), 1);
    EXPECT_EQ(static_cast<int>(UiState::finished), 2);

    EXPECT_EQ(main_action(UiState::idle), MainAction::start_install);
    EXPECT_EQ(main_action(UiState::running), MainAction::nothing);
    EXPECT_EQ(main_action(UiState::finished), MainAction::launch_and_close);

    EXPECT_EQ(second_action(UiState::idle), SecondAction::close);
    EXPECT_EQ(second_action(UiState::running), SecondAction::request_cancel);
    EXPECT_EQ(second_action(UiState::finished), SecondAction::close);

    EXPECT_EQ(close_action(UiState::idle), CloseAction::close);
    EXPECT_EQ(close_action(UiState::running), CloseAction::ask_first);
    EXPECT_EQ(close_action(UiState::finished), CloseAction::close);
}

TEST(UiState, Transitions) {
    ControlLook start = look_when_started();
    EXPECT_EQ(start.state, UiState::running);
    EXPECT_FALSE(start.inputs_enabled);
    EXPECT_FALSE(start.main_enabled);
    EXPECT_EQ(start.main_key, nullptr);
    EXPECT_EQ(start.second_key, nullptr);  // Cancel stays: it is the way to stop

    ControlLook failed = look_after_result(false);
    EXPECT_EQ(failed.state, UiState::idle);
    EXPECT_TRUE(failed.inputs_enabled);
    EXPECT_TRUE(failed.main_enabled);
    EXPECT_STREQ(failed.main_key, "retry");
    EXPECT_EQ(failed.second_key, nullptr);  // keeps Cancel

    ControlLook done = look_after_result(true);
    EXPECT_EQ(done.state, UiState::finished);
    EXPECT_FALSE(done.inputs_enabled);
    EXPECT_TRUE(done.main_enabled);
    EXPECT_STREQ(done.main_key, "launch");
    EXPECT_STREQ(done.second_key, "close");
}

TEST(BarPosition, Rule) {
    struct Case {
        std::uint64_t done, total;
        int expected;
    } cases[] = {
        {0, 0, 0},
        {5, 0, 0},                                  // zero total: the bar stays at 0
        {0, 100, 0},
        {12 * MB + MB / 2, 88 * MB, 142},           // 142.04 truncated
        {999, 1000, 999},
        {9999, 10000, 999},                         // 999.9 truncated, not rounded
        {1000, 1000, 1000},
        {1001, 1000, 1000},                         // more than announced: full, not beyond
        {UINT64_MAX, 1, 1000},                      // far above the int range
        {UINT64_MAX, UINT64_MAX, 1000},
        {1, UINT64_MAX, 0},
        {UINT64_MAX / 2, UINT64_MAX, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.done << " of " << c.total);
        EXPECT_EQ(bar_position(c.done, c.total), c.expected);
    }
}

TEST(ProgressDisplay, FilesLine) {
    ProgressDisplay d = progress_display(files(3, 120, 12 * MB + MB / 2, 88 * MB));
    ASSERT_TRUE(d.status);
    EXPECT_EQ(*d.status, L"Downloading 3 / 120 files \u00b7 12.5 / 88.0 MB");
    EXPECT_EQ(d.bar, 142);

    d = progress_display(files(0, 4, 0, 0));
    EXPECT_EQ(*d.status, L"Downloading 0 / 4 files \u00b7 0.0 / 0.0 MB");
    EXPECT_EQ(d.bar, 0);

    d = progress_display(files(2, 2, 3 * MB, 2 * MB));
    EXPECT_EQ(*d.status, L"Downloading 2 / 2 files \u00b7 3.0 / 2.0 MB");
    EXPECT_EQ(d.bar, 1000);

    Language zh(true);
    d = progress_display(files(3, 120, 12 * MB + MB / 2, 88 * MB));
    EXPECT_EQ(*d.status, L"\u6b63\u5728\u4e0b\u8f7d 3 / 120 \u4e2a\u6587\u4ef6 \u00b7 12.5 / 88.0 MB");
}

TEST(ProgressDisplay, SpeedAndTimeLeftInTheWindowAndTheLog) {
    // 6.2 MB in 2 s: 3.1 MB/s, and 35.7 MB left take 11.5 s.
    const Progress p = files(3, 120, 12897485, 48 * MB);
    RateEstimate rate;
    rate.add(0, p.bytes_done - 6501171, p.bytes_total);
    rate.add(2000, p.bytes_done, p.bytes_total);
    EXPECT_EQ(progress_display(p, rate).status,
              L"Downloading 3 / 120 files \u00b7 12.3 / 48.0 MB \u00b7 3.1 MB/s \u00b7 about 12 s left");
    EXPECT_EQ(progress_log_text(p, rate), L"progress 3 / 120 files, 12.3 / 48.0 MB, 3.1 MB/s, about 12 s left");
    {
        Language zh(true);
        EXPECT_EQ(progress_display(p, rate).status, L"\u6b63\u5728\u4e0b\u8f7d 3 / 120 \u4e2a\u6587\u4ef6 \u00b7 "
                                                    L"12.3 / 48.0 MB \u00b7 3.1 MB/s \u00b7 \u5269\u4f59\u7ea6 12 \u79d2");
        EXPECT_EQ(progress_log_text(p, rate), L"progress 3 / 120 files, 12.3 / 48.0 MB, 3.1 MB/s, about 12 s left");
    }
    EXPECT_EQ(progress_log_text(p, RateEstimate{}), L"progress 3 / 120 files, 12.3 / 48.0 MB");  // not yet known
}

TEST(ProgressDisplay, PhasesAndUnknownKeys) {
    struct Case {
        const wchar_t* phase;
        const wchar_t* status;  // null: nothing changes
    } cases[] = {
        {L"checking", L"Looking for the latest version\u2026"},
        {L"manifest", L"Reading the file list\u2026"},
        {L"scanning", L"Checking files already there\u2026"},
        {L"finishing", L"Finishing\u2026"},
        {L"Files", L"?"},       // case-sensitive: not the files line
        {L"files ", L"?"},
        {L"unpacking", L"?"},
        {L"checking\u00e9", L"?"},
        {L"\u0163itle", L"?"},  // would read as "title" if units were cut to 8 bits
        {L"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "phase #" << (&c - cases));
        ProgressDisplay d = progress_display(Progress{c.phase, 7, 9, 5 * MB, 9 * MB});
        EXPECT_FALSE(d.bar);  // only "files" moves the bar
        if (c.status) {
            ASSERT_TRUE(d.status);
            EXPECT_EQ(*d.status, c.status);
        } else {
            EXPECT_FALSE(d.status);
        }
    }
}

TEST(Outcome, SuccessLineAndSourceSuffix) {
    struct Case {
        const wchar_t* version;
        std::uint32_t mirror, github;
        const wchar_t* expected;
    } cases[] = {
        {L"1.4.0", 0, 0, L"Installed v1.4.0 to D:\\Games\\Duskfern (from the China mirror)"},
        {L"1.4.0", 7, 7, L"Installed v1.4.0 to D:\\Games\\Duskfern (from the China mirror)"},
        {L"1.4.0", 5, 7, L"Installed v1.4.0 to D:\\Games\\Duskfern (from GitHub)"},
        {L"1.4.0", 8, 7, L"Installed v1.4.0 to D:\\Games\\Duskfern (from the China mirror)"},
        {L"1.4.0", 0, 1, L"Installed v1.4.0 to D:\\Games\\Duskfern (from GitHub)"},
        {L"v1.4.0", 1, 0, L"Installed v1.4.0 to D:\\Games\\Duskfern (from the China mirror)"},  // no "vv"
        {L"V2.0.0-rc.1", 1, 0, L"Installed V2.0.0-rc.1 to D:\\Games\\Duskfern (from the China mirror)"},
        {L"version", 1, 0, L"Installed version to D:\\Games\\Duskfern (from the China mirror)"},
        {L"0.1", 1, 0, L"Installed v0.1 to D:\\Games\\Duskfern (from the China mirror)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        Outcome o;
        o.ok = true;
        o.version = c.version;
        o.dir = L"D:\\Games\\Duskfern";
        o.from_mirror = c.mirror;
        o.from_github = c.github;
        EXPECT_EQ(outcome_text(o), c.expected);
    }
}

TEST(Outcome, ChineseSuccessLine) {
    Language zh(true);
    Outcome o;
    o.ok = true;
    o.version = L"1.4.0";
    o.dir = L"D:\\\u6e38\u620f\\Duskfern";
    o.from_github = 3;
    EXPECT_EQ(outcome_text(o), L"\u5df2\u5b89\u88c5 v1.4.0 \u5230 D:\\\u6e38\u620f\\Duskfern\uff08\u6765\u81ea GitHub\uff09");
}

TEST(Outcome, CancelledAndFailed) {
    Outcome o;
    o.cancelled = true;
    o.error = L"cancelled";
    EXPECT_EQ(outcome_text(o), L"Cancelled. Run setup again to resume.");

    o.cancelled = false;
    o.error = L"could not fetch manifest.json";
    EXPECT_EQ(outcome_text(o), L"Setup failed: could not fetch manifest.json");

    o.error = L"100% of %s %d";  // an error text is data, never a format
    EXPECT_EQ(outcome_text(o), L"Setup failed: 100% of %s %d");

    o.error = std::wstring(3000, L'x');
    EXPECT_EQ(outcome_text(o).size(), 1023u);

    Language zh(true);
    o.error = L"cancelled";
    o.cancelled = true;
    EXPECT_EQ(outcome_text(o), L"\u5df2\u53d6\u6d88\u3002\u518d\u6b21\u8fd0\u884c\u5373\u53ef\u7ee7\u7eed\u4e0b\u8f7d\u3002");
    o.cancelled = false;
    o.error = L"connect: timed out";
    EXPECT_EQ(outcome_text(o), L"\u5b89\u88c5\u5931\u8d25\uff1aconnect: timed out");
}

TEST(Launch, CommandLine) {
    LaunchCommand c = launch_command(L"D:\\Games\\Duskfern");
    EXPECT_EQ(c.exe, L"D:\\Games\\Duskfern\\duskfern-overlay.exe");
    EXPECT_EQ(c.command_line, L"\"D:\\Games\\Duskfern\\duskfern-overlay.exe\"");
    c = launch_command(L"D:\\");
    EXPECT_EQ(c.exe, L"D:\\duskfern-overlay.exe");
    EXPECT_EQ(c.command_line, L"\"D:\\duskfern-overlay.exe\"");
    c = launch_command(L"\\\\server\\share\\a b");
    EXPECT_EQ(c.command_line, L"\"\\\\server\\share\\a b\\duskfern-overlay.exe\"");
}
