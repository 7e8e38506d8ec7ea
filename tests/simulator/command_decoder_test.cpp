#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "command_table.h"

namespace tessaly::sim {
namespace {

using test::B;
using test::Bytes;
using test::Cat;
using test::T;

Bytes Fill(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

struct Recorder final : CommandDecoder::Sink {
    std::string printed;
    std::vector<Command> commands;
    std::size_t fontBytes = 0;
    int abandoned = 0;
    void text(const std::uint8_t* data, std::size_t n) override { printed.append(data, data + n); }
    void command(Command c) override { commands.push_back(std::move(c)); }
    void fontData(const std::uint8_t*, std::size_t n) override { fontBytes += n; }
    void fontAbandoned() override { ++abandoned; }
};

// Real command shapes, each with its data stuffed with bytes that would be
// commands or line feeds if the decoder lost count, and its length on the wire.
struct Sample {
    const char* what;
    Bytes bytes;
};

std::vector<Sample> Samples() {
    const Bytes junk = B({0x1B, 0x40, 0x0A, 0x1D, 0x56, 0x00, 'X'});
    return {
        {"ESC c 4 n", B({0x1B, 'c', '4', 0x0A})},
        {"GS L nL nH", B({0x1D, 'L', 0x0A, 0x0A})},
        {"ESC p m t1 t2", B({0x1B, 'p', 0, 0x19, 0x0A})},
        {"ESC * 33 (24-dot columns)", Cat({B({0x1B, '*', 33, 3, 0}), Fill(2, 0x0A), junk})},
        {"ESC * 0 (8-dot columns)", Cat({B({0x1B, '*', 0, 7, 0}), junk})},
        {"GS v 0 (raster)", Cat({B({0x1D, 'v', '0', 0, 7, 0, 2, 0}), junk, junk})},
        {"GS ( k QR store", Cat({B({0x1D, '(', 'k', 10, 0, 49, 80, 48}), junk})},
        {"GS ( L raster store",
         Cat({B({0x1D, '(', 'L', 17, 0, 48, 112, 48, 1, 1, 49, 8, 0, 7, 0}), junk})},
        {"GS 8 L (32-bit length)", Cat({B({0x1D, '8', 'L', 9, 0, 0, 0, 48, 50}), junk})},
        {"GS k EAN13 (NUL-terminated)", Cat({B({0x1D, 'k', 2}), Bytes{'4', '0', 0x0A}, B({0})})},
        {"GS k CODE128 (counted)", Cat({B({0x1D, 'k', 73, 9, '{', 'B'}), junk})},
        {"GS V 66 n (feed and cut)", B({0x1D, 'V', 66, 0x0A})},
        {"GS V 0 (cut)", B({0x1D, 'V', 0})},
        {"ESC & (two user characters)",
         Cat({B({0x1B, '&', 3, 'A', 'B', 2}), Fill(6, 0x0A), B({1}), Fill(3, 0x1B)})},
        {"FS q (one NV image)", Cat({B({0x1C, 'q', 1, 1, 0, 1, 0}), Fill(8, 0x1D)})},
        {"ESC D (tab stops)", B({0x1B, 'D', 8, 16, 24, 0})},
        {"GS C ; (counter)", B({0x1D, 'C', ';', '1', ';', '2', ';', '3', ';', '4', ';', '5', ';'})},
        {"FS g 1 (NV user memory)", Cat({B({0x1C, 'g', '1', 0, 0, 0, 0, 0, 3, 0}), Fill(3, 0x0A)})},
        {"FS g 2", B({0x1C, 'g', '2', 0, 0, 0, 0, 0, 3, 0})},
        {"GS * (downloaded image)", Cat({B({0x1D, '*', 1, 1}), Fill(8, 0x0A)})},
        {"GS z 0", B({0x1D, 'z', '0', 1, 1})},
        {"GS g 2", B({0x1D, 'g', '2', 0, 20, 0})},
        {"FS 2 (user Kanji)", Cat({B({0x1C, '2', 0x77, 0x21}), Fill(72, 0x0A)})},
        {"DLE EOT 7 a", B({0x10, 0x04, 7, 1})},
        {"DLE DC4 1 (drawer pulse)", B({0x10, 0x14, 1, 0, 1})},
        {"DLE DC4 3 (buzzer)", B({0x10, 0x14, 3, 1, 2, 3, 4, 5})},
        {"DLE DC4 8 (clear buffers)", B({0x10, 0x14, 8, 1, 3, 20, 1, 6, 2, 8})},
        {"GS ( z (unknown function, counted)", Cat({B({0x1D, '(', 'z', 7, 0}), junk})},
        {"GS 8 X (unknown function, counted)", Cat({B({0x1D, '8', 'X', 7, 0, 0, 0}), junk})},
    };
}

Recorder Decode(const Bytes& bytes, std::size_t chunk) {
    Recorder r;
    CommandDecoder decoder;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        decoder.feed(bytes.data() + at, std::min(chunk, bytes.size() - at), 0, r);
    }
    return r;
}

TEST(CommandDecoder, EveryCommandTakesExactlyItsBytesHoweverTheyArrive) {
    const Bytes after{'o', 'k', 0x0A};
    for (const auto& s : Samples()) {
        const Bytes stream = Cat({s.bytes, after});
        for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, stream.size()}) {
            const Recorder r = Decode(stream, chunk);
            ASSERT_EQ(r.commands.size(), 1u) << s.what << " in chunks of " << chunk;
            EXPECT_EQ(r.commands[0].length, s.bytes.size()) << s.what;
            EXPECT_EQ(r.commands[0].bytes, s.bytes) << s.what;
            EXPECT_EQ(r.printed, "ok\n") << s.what << " in chunks of " << chunk;
        }
    }
}

TEST(CommandDecoder, KnownCommandsAreNamedAndRealTimeOnesMarked) {
    for (const auto& s : Samples()) {
        const Recorder r = Decode(s.bytes, s.bytes.size());
        ASSERT_EQ(r.commands.size(), 1u) << s.what;
        const bool unknown = std::string(s.what).find("unknown") != std::string::npos;
        ASSERT_NE(r.commands[0].entry, nullptr) << s.what;
        EXPECT_EQ(r.commands[0].entry->realTime(), s.bytes[0] == kDle) << s.what;
        if (unknown) {
            EXPECT_EQ(r.commands[0].entry->sub, -1) << s.what;
        }
    }
    EXPECT_EQ(Decode(B({0x1D, '(', 'k', 3, 0, 49, 81, 48}), 8).commands[0].label(), "GS ( k");
    EXPECT_EQ(Decode(B({0x1D, '(', 'z', 0, 0}), 5).commands[0].label(), "GS ( z");
}

TEST(CommandDecoder, UnknownCodesTakeTheirFamilysTwoBytes) {
    // ESC 0x01 is no command: prefix and code go, the rest is text.
    const Recorder r = Decode(B({0x1B, 0x01, 'I', 't', 'e', 'm', 0x0A}), 1);
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_EQ(r.commands[0].entry, nullptr);
    EXPECT_EQ(r.commands[0].label(), "ESC 0x01");
    EXPECT_EQ(r.printed, "Item\n");

    // A prefix followed by another starts afresh; a lone DLE is a control code.
    const Recorder twice = Decode(B({0x1B, 0x1B, '@', 0x10, 'A'}), 1);
    ASSERT_EQ(twice.commands.size(), 2u);
    EXPECT_EQ(twice.commands[1].bytes, B({0x1B, '@'}));
    EXPECT_EQ(twice.printed,
              "\x10"
              "A");
}

TEST(CommandDecoder, ABitImageOfAnotherDensityLeavesItsBytesToBeReadAfresh) {
    const Recorder r = Decode(B({0x1B, '*', 5, 'A', 'B', 0x0A}), 1);
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_EQ(r.commands[0].length, 3u);
    EXPECT_EQ(r.printed, "AB\n");
}

TEST(CommandDecoder, DataBeyondWhatIsKeptIsCountedNotStored) {
    const std::size_t big = CommandDecoder::kMaxKept + 1000;
    Bytes stream =
        B({0x1D, '8', 'L', static_cast<int>(big & 0xFF), static_cast<int>((big >> 8) & 0xFF),
           static_cast<int>((big >> 16) & 0xFF), 0});
    stream.resize(stream.size() + big, 0x0A);
    stream.push_back('Z');
    const Recorder r = Decode(stream, 65536);
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_TRUE(r.commands[0].truncated);
    EXPECT_EQ(r.commands[0].length, 7 + big);
    EXPECT_LE(r.commands[0].bytes.size(), CommandDecoder::kMaxKept);
    EXPECT_EQ(r.printed, "Z");
}

TEST(CommandDecoder, ACommandWhoseBytesStopIsAbandonedAfterTheIdleTime) {
    Recorder r;
    CommandDecoder decoder(30000);
    const Bytes half = B({0x1D, 'v', '0', 0, 10, 0, 10, 0, 1, 2});
    decoder.feed(half.data(), half.size(), 1000, r);
    decoder.expire(31000, r);
    EXPECT_TRUE(r.commands.empty()) << "not yet idle long enough";
    decoder.expire(31001, r);
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_TRUE(r.commands[0].incomplete);
    const Bytes next = B({'h', 'i'});
    decoder.feed(next.data(), next.size(), 31002, r);
    EXPECT_EQ(r.printed, "hi");
}

TEST(CommandDecoder, FontPayloadHeaderIsCheckedAndItsDataPassedThrough) {
    Recorder r;
    CommandDecoder decoder(30000);
    // Wrong fourth byte: refused, and that byte is read afresh.
    const Bytes bad = B({0x1C, 0x6C, 0x64, 'A', 0x0A});
    decoder.feed(bad.data(), bad.size(), 0, r);
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_TRUE(r.commands[0].badFraming);
    EXPECT_EQ(r.printed, "A\n");

    const Bytes payload = Cat({B({0x1C, 0x6C, 0x64, 0x73, 0x58, 100, 0, 0, 0}), Fill(60, 0x1B)});
    decoder.feed(payload.data(), payload.size(), 0, r);
    ASSERT_EQ(r.commands.size(), 2u);
    EXPECT_FALSE(r.commands[1].badFraming);
    EXPECT_EQ(r.fontBytes, 60u);
    EXPECT_TRUE(decoder.inFontPayload());
    decoder.expire(30001, r);
    EXPECT_EQ(r.abandoned, 1);
    EXPECT_FALSE(decoder.inCommand());
}

}  // namespace
}  // namespace tessaly::sim
