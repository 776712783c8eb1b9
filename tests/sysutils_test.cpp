#include "platform/sysutils.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ansi_string.h"
#include "platform/exceptions.h"

namespace {

TEST(StrToInt, AcceptsSignedDecimalsWithin32Bits) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("20"), 20);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, RejectsEverythingElseAndQuotesTheText) {
    for (const char* bad : {"", "-", "+", " 1", "1 ", "x7", "7x", "1.5", "0x10", "$10",
                            "2147483648", "-2147483649", "99999999999999999999"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted \"" << bad << "\"";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "\"" + std::string(bad) + "\" is not an integer");
        }
    }
}

TEST(IntToStr, Decimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-15), "-15");
    EXPECT_EQ(IntToStr(10000), "10000");
}

TEST(CharAt, OneBasedAndChecked) {
    const AnsiString s = "abc";
    EXPECT_EQ(CharAt(s, 1), 'a');
    EXPECT_EQ(CharAt(s, 3), 'c');
    EXPECT_THROW(CharAt(s, 0), ERangeError);
    EXPECT_THROW(CharAt(s, 4), ERangeError);
    EXPECT_THROW(CharAt("", 1), ERangeError);
}

TEST(AnsiUpperCase, Utf8Text) {
    EXPECT_EQ(AnsiUpperCase("site/Page?x=1"), "SITE/PAGE?X=1");
    EXPECT_EQ(AnsiUpperCase("caf\xC3\xA9"), "CAF\xC3\x89");            // é -> É
    EXPECT_EQ(AnsiUpperCase("\xC3\xBF"), "\xC5\xB8");                  // ÿ -> Ÿ
    EXPECT_EQ(AnsiUpperCase("\xC5\xBE"), "\xC5\xBD");                  // ž -> Ž
    EXPECT_EQ(AnsiUpperCase("\xD0\xBF\xD1\x80"), "\xD0\x9F\xD0\xA0");  // пр -> ПР
    EXPECT_EQ(AnsiUpperCase("\xCE\xB1\xCF\x82"), "\xCE\x91\xCE\xA3");  // ας -> ΑΣ
    EXPECT_EQ(AnsiUpperCase("\xC3\x9F\xC3\xB7"), "\xC3\x9F\xC3\xB7");  // ß, ÷ unchanged
    EXPECT_EQ(AnsiUpperCase("\xE2\x82\xAC"), "\xE2\x82\xAC");          // € unchanged
}

TEST(AnsiUpperCase, Windows1252Text) {
    EXPECT_EQ(AnsiUpperCase("caf\xE9"), "CAF\xC9");
    EXPECT_EQ(AnsiUpperCase("\x9A\x9C\x9E\xFF\xF7"), "\x8A\x8C\x8E\x9F\xF7");
    EXPECT_EQ(AnsiUpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(AnsiToUtf8, Utf8PassesAndWindows1252Converts) {
    EXPECT_EQ(AnsiToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(AnsiToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(AnsiToUtf8("\x80 \x9F"), "\xE2\x82\xAC \xC5\xB8");
    EXPECT_EQ(AnsiToUtf8("\x81"), "\xC2\x81");       // undefined in 1252: kept as that control
    EXPECT_EQ(AnsiToUtf8("\xC3\x28"), "\xC3\x83(");  // broken UTF-8 is read as 1252
    EXPECT_EQ(AnsiToUtf8("\xED\xA0\x80"),
              "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate is not UTF-8
}

TEST(Sleep, NeverReturnsEarly) {
    using std::chrono::steady_clock;
    // Many short pauses, as a page's links take them: not one may end before its millisecond.
    for (int i = 0; i < 200; ++i) {
        const auto t0 = steady_clock::now();
        Sleep(1);
        ASSERT_GE(steady_clock::now() - t0, std::chrono::milliseconds(1)) << "pause " << i;
    }
    const auto t0 = steady_clock::now();
    Sleep(5);
    EXPECT_GE(steady_clock::now() - t0, std::chrono::milliseconds(5));
    const auto t1 = steady_clock::now();
    Sleep(0);
    Sleep(-3);
    EXPECT_LT(steady_clock::now() - t1, std::chrono::milliseconds(1));
}

TEST(Sleep, SignalsDoNotCutThePauseShort) {
    using std::chrono::steady_clock;
    // A handler installed without SA_RESTART makes every signal interrupt the sleep.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t sleeper = ::pthread_self();
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread interrupter([&] {
        while (!done.load()) {
            ::pthread_kill(sleeper, SIGUSR1);
            ++sent;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    const auto t0 = steady_clock::now();
    Sleep(30);
    const auto slept = steady_clock::now() - t0;
    done = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(30));
    EXPECT_GT(sent.load(), 5);  // the pause was interrupted over and over
}

TEST(Pacer, PauseKEndsNoEarlierThanKStepsAfterTheFirstBegan) {
    using std::chrono::steady_clock;
    TPacer pacer(1);
    const auto t0 = steady_clock::now();
    for (int k = 1; k <= 50; ++k) {
        pacer.Pause();
        ASSERT_GE(steady_clock::now() - t0, std::chrono::milliseconds(k)) << "pause " << k;
    }
    TPacer longer(3);
    const auto t1 = steady_clock::now();
    longer.Pause();
    longer.Pause();
    EXPECT_GE(steady_clock::now() - t1, std::chrono::milliseconds(6));
}

TEST(Pacer, WorkAfterBeginIsPartOfThePausesNotInFrontOfThem) {
    using std::chrono::steady_clock;
    TPacer pacer(1);
    const auto t0 = steady_clock::now();
    pacer.Begin();
    std::this_thread::sleep_for(std::chrono::milliseconds(6));  // the work
    const auto t1 = steady_clock::now();
    for (int k = 0; k < 5; ++k)
        pacer.Pause();  // due 1..5 ms after Begin: already past
    EXPECT_LT(steady_clock::now() - t1, std::chrono::milliseconds(3));
    for (int k = 0; k < 10; ++k)
        pacer.Pause();
    EXPECT_GE(steady_clock::now() - t0, std::chrono::milliseconds(15));
}

TEST(Pacer, ALateWakeUpIsNotAddedToThePausesAfterIt) {
    using std::chrono::steady_clock;
    TPacer pacer(1);
    const auto t0 = steady_clock::now();
    for (int k = 0; k < 10; ++k)
        pacer.Pause();
    // Held up for 50 ms, as by a late wake-up: the next 40 pauses (41..50 ms after the start) are
    // already due. Taken one after another they would last 40 ms more.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t1 = steady_clock::now();
    for (int k = 0; k < 40; ++k)
        pacer.Pause();
    EXPECT_LT(steady_clock::now() - t1, std::chrono::milliseconds(20));
    // And the series never runs ahead of its pauses.
    pacer.Pause();
    EXPECT_GE(steady_clock::now() - t0, std::chrono::milliseconds(51));
}

}  // namespace
