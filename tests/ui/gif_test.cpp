// The GIF block walker and the animation player, on GIF files built by the
// test (the walker decodes no pixels, so the image data is arbitrary bytes).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "ui/base/gif_parser.h"
#include "ui/base/picture_animation.h"
#include "tests/support/program_dir.h"

namespace {

// "GIF89a", a logical screen and a global table of 2^(bits) entries.
std::string Header(int w, int h, int tableBits = 1, int bgIndex = 0) {
    std::string s = "GIF89a";
    s += static_cast<char>(w & 0xFF);
    s += static_cast<char>(w >> 8);
    s += static_cast<char>(h & 0xFF);
    s += static_cast<char>(h >> 8);
    s += static_cast<char>(tableBits ? 0x80 | (tableBits - 1) : 0);
    s += static_cast<char>(bgIndex);
    s += '\0';
    for (int i = 0; i < (tableBits ? 1 << tableBits : 0); ++i) {
        s += static_cast<char>(i == 1 ? 10 : 255);
        s += static_cast<char>(i == 1 ? 20 : 255);
        s += static_cast<char>(i == 1 ? 30 : 255);
    }
    return s;
}

std::string Gce(int delay, int disposal) {
    std::string s = "\x21\xF9\x04";
    s += static_cast<char>(disposal << 2);
    s += static_cast<char>(delay & 0xFF);
    s += static_cast<char>(delay >> 8);
    s += '\0';
    s += '\0';
    return s;
}

std::string Image(int left, int top, int w, int h) {
    std::string s = ",";
    for (int v : {left, top, w, h}) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>(v >> 8);
    }
    s += '\0';                                // no local table
    s += '\x02';                              // LZW code size
    s += std::string("\x03\x01\x02\x03", 4);  // one sub-block
    s += '\0';
    return s;
}

std::string Comment() {
    return std::string("\x21\xFE\x05hello\x00", 9);
}
std::string AppExt() {
    return std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
}

TEST(GifParser, SingleImage) {
    const std::string gif = Header(10, 8, 1, 1) + Image(0, 0, 10, 8) + ";";
    GifInfo info;
    ASSERT_EQ(ParseGif(gif, info), GifParse::kOk);
    EXPECT_EQ(info.width, 10);
    EXPECT_EQ(info.height, 8);
    EXPECT_EQ(info.header_size, 13u + 6);
    EXPECT_TRUE(info.has_background);
    EXPECT_EQ(info.background_argb, 0xFF0A141Eu);
    ASSERT_EQ(info.frames.size(), 1u);
    EXPECT_EQ(info.graphic_blocks, 1);
    EXPECT_EQ(info.frames[0].delay, -1);
    EXPECT_EQ(info.frames[0].disposal, 0);
}

TEST(GifParser, FramesWithDelaysAndDisposals) {
    const std::string gif = Header(20, 20) + AppExt() + Gce(3, 2) + Image(1, 2, 5, 6) + Comment() +
                            Gce(10, 3) + Comment() + Image(3, 4, 7, 8) + Image(0, 0, 20, 20) + ";" +
                            "trailing junk";
    GifInfo info;
    ASSERT_EQ(ParseGif(gif, info), GifParse::kOk);
    ASSERT_EQ(info.frames.size(), 3u);
    const auto& a = info.frames[0];
    EXPECT_EQ(a.delay, 3);
    EXPECT_EQ(a.disposal, 2);
    EXPECT_EQ(a.left, 1);
    EXPECT_EQ(a.top, 2);
    EXPECT_EQ(a.width, 5);
    EXPECT_EQ(a.height, 6);
    EXPECT_EQ(GifFrameWaitMs(a.delay), 50);
    const auto& b = info.frames[1];
    EXPECT_EQ(b.delay, 10);
    EXPECT_EQ(b.disposal, 3);
    EXPECT_EQ(GifFrameWaitMs(b.delay), 100);
    EXPECT_EQ(info.frames[2].delay, -1) << "a graphic control extension belongs to one image";
    EXPECT_EQ(GifFrameWaitMs(-1), 50);
    EXPECT_EQ(GifFrameWaitMs(4), 50);
    EXPECT_EQ(GifFrameWaitMs(5), 50);

    // The stand-alone GIF of frame 1: header and table, the frame from its
    // control extension through its image (the comment between kept), ";".
    const std::string one = BuildFrameGif(gif, info, b);
    const std::string expected = Header(20, 20) + Gce(10, 3) + Comment() + Image(3, 4, 7, 8) + ";";
    EXPECT_EQ(one, expected);
    GifInfo again;
    ASSERT_EQ(ParseGif(one, again), GifParse::kOk);
    ASSERT_EQ(again.frames.size(), 1u);
    EXPECT_EQ(again.frames[0].delay, 10);
}

TEST(GifParser, TruncatedKeepsEarlierFrames) {
    const std::string full =
        Header(20, 20) + Gce(5, 0) + Image(0, 0, 4, 4) + Gce(5, 0) + Image(0, 0, 4, 4) + ";";
    const size_t secondImageEnd = full.size() - 1;
    for (size_t cut = secondImageEnd - 1; cut > 13 + 6; --cut) {
        GifInfo info;
        const GifParse r = ParseGif(std::string_view(full).substr(0, cut), info);
        const size_t firstEnd = 13 + 6 + 8 + 16;
        if (cut >= firstEnd) {
            ASSERT_EQ(r, GifParse::kOk) << cut;
            EXPECT_EQ(info.frames.size(), 1u) << cut;
        } else {
            EXPECT_EQ(r, GifParse::kNoFrames) << cut;
        }
    }
}

TEST(GifParser, RefusedData) {
    GifInfo info;
    EXPECT_EQ(ParseGif("", info), GifParse::kNotGif);
    EXPECT_EQ(ParseGif("\x89PNG\r\n", info), GifParse::kNotGif);
    EXPECT_EQ(ParseGif("GIF89a", info), GifParse::kBadHeader) << "shorter than 13 bytes";
    // A global table of 256 entries that the data does not hold.
    EXPECT_EQ(ParseGif(Header(4, 4, 8).substr(0, 13 + 100), info), GifParse::kBadHeader);
    // A background index past a two-entry table.
    EXPECT_EQ(ParseGif(Header(4, 4, 1, 5) + Image(0, 0, 4, 4) + ";", info), GifParse::kBadHeader);
    EXPECT_EQ(ParseGif(Header(0, 4) + Image(0, 0, 4, 4) + ";", info), GifParse::kBadHeader);
    EXPECT_EQ(ParseGif(Header(4, 4) + ";", info), GifParse::kNoFrames);
    EXPECT_EQ(ParseGif(Header(4, 4) + "?" + Image(0, 0, 4, 4), info), GifParse::kNoFrames) << "unknown block";
    // No global table: the background stays unknown.
    ASSERT_EQ(ParseGif(Header(4, 4, 0) + Image(0, 0, 4, 4), info), GifParse::kOk);
    EXPECT_FALSE(info.has_background);
    EXPECT_EQ(info.header_size, 13u);
}

AnimationFrame Frame(int left, int top, int w, int h, uint32_t colour, int delay, int disposal) {
    AnimationFrame f;
    f.image = Pixmap(w, h, colour);
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.delay = delay;
    f.disposal = disposal;
    return f;
}

constexpr uint32_t kWhite = 0xFFFFFFFFu, kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u;

TEST(PictureAnimation, Composition) {
    PictureAnimation a;
    std::vector<AnimationFrame> frames;
    frames.push_back(Frame(0, 0, 10, 10, kRed, 10, 1));
    frames.push_back(Frame(2, 2, 3, 3, kBlue, 10, 3));
    frames.push_back(Frame(5, 5, 3, 3, kGreen, 10, 2));
    frames[2].image.Set(0, 0, 0x00000000u);  // transparent pixel
    a.Reset(10, 10, 0xFFF0F0F0u, std::move(frames));
    a.SetBackground(kWhite);

    a.PrepareFirst();
    a.RenderCurrent();  // frame 0 covers everything
    EXPECT_EQ(a.screen().At(9, 9), kRed);
    a.DisposeCurrent();
    a.Advance();
    a.RenderCurrent();  // frame 1, disposal 3: saves the red under it
    EXPECT_EQ(a.screen().At(3, 3), kBlue);
    a.DisposeCurrent();
    EXPECT_EQ(a.screen().At(3, 3), kRed) << "disposal 3 puts back what was under the frame";
    a.Advance();
    a.RenderCurrent();  // frame 2 with a transparent corner
    EXPECT_EQ(a.screen().At(6, 6), kGreen);
    EXPECT_EQ(a.screen().At(5, 5), kRed) << "transparent pixels leave the picture as it was";
    a.DisposeCurrent();
    EXPECT_EQ(a.screen().At(6, 6), kWhite) << "disposal 2 fills with the background";
    EXPECT_EQ(a.screen().At(1, 1), kRed);
    a.Advance();
    EXPECT_EQ(a.currentFrame(), 0u);
    EXPECT_EQ(a.screen().At(1, 1), kWhite) << "after the last frame the picture is cleared";
}

TEST(PictureAnimation, OneFrameNeedsNoThread) {
    PictureAnimation a;
    std::vector<AnimationFrame> frames;
    frames.push_back(Frame(0, 0, 4, 4, kRed, 10, 0));
    a.Reset(4, 4, kWhite, std::move(frames));
    EXPECT_FALSE(a.Start([] {}));
    EXPECT_FALSE(a.IsPlaying());
}

TEST(PictureAnimation, EachAnimationStopsOnItsOwn) {
    std::atomic<int> paintsA{0}, paintsB{0};
    PictureAnimation a, b;
    for (PictureAnimation* p : {&a, &b}) {
        std::vector<AnimationFrame> frames;
        frames.push_back(Frame(0, 0, 4, 4, kRed, 1, 0));
        frames.push_back(Frame(0, 0, 4, 4, kBlue, 1, 0));
        p->Reset(4, 4, kWhite, std::move(frames));
    }
    ASSERT_TRUE(a.Start([&] { ++paintsA; }));
    ASSERT_TRUE(b.Start([&] { ++paintsB; }));
    EXPECT_FALSE(a.Start([] {})) << "one thread per picture";
    while (paintsA < 3 || paintsB < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    a.Stop();
    EXPECT_FALSE(a.IsPlaying());
    const int afterStop = paintsA;
    const int bBefore = paintsB;
    while (paintsB < bBefore + 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(b.IsPlaying()) << "stopping one animation leaves the other playing";
    EXPECT_EQ(paintsA, afterStop) << "a stopped animation asks for no repaint";
    b.Stop();

    // A long delay still stops at once: Stop cuts the wait short and joins.
    std::vector<AnimationFrame> slow;
    slow.push_back(Frame(0, 0, 4, 4, kRed, 60000, 0));
    slow.push_back(Frame(0, 0, 4, 4, kBlue, 60000, 0));
    a.Reset(4, 4, kWhite, std::move(slow));
    std::atomic<bool> painted{false};
    ASSERT_TRUE(a.Start([&] { painted = true; }));
    while (!painted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    a.Stop();
    EXPECT_FALSE(a.IsPlaying());
    // And it can play again afterwards, from where it stopped.
    ASSERT_TRUE(a.Start([] {}));
    a.Clear();
    EXPECT_FALSE(a.screen().IsOk());
}

}  // namespace

// The loading rings drawn at build time: a dot frame that cleared its box
// to the background would blank the grey dot under it until the loop
// restarts, so every dot frame restores what it covered instead.
TEST(GifParser, LoadingRingsNeverBlankADot) {
    for (const char* name : {"225.gif", "160.gif", "146.gif"}) {
        std::ifstream in(testsupport::BuiltProgramDir() / "res" / "gif" / name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        GifInfo info;
        ASSERT_EQ(ParseGif(bytes, info), GifParse::kOk) << name;
        ASSERT_GT(info.frames.size(), 2u) << name;
        for (size_t i = 1; i < info.frames.size(); ++i)
            EXPECT_EQ(info.frames[i].disposal, 3) << name << " frame " << i;
    }
}
