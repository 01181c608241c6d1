// The packet writer's exact bytes and the reader's tolerances and bounds.
#include <gtest/gtest.h>

#include <vector>

#include "packet.h"

using olvaro::server::Packet;
using olvaro::server::PacketReader;

namespace {

struct Fed {
    bool ok = true;
    std::vector<Packet> packets;
};

Fed feed_whole(const std::string& bytes, PacketReader::Limits limits = {}) {
    PacketReader r(limits);
    Fed f;
    f.ok = r.feed(bytes.data(), bytes.size(), [&](Packet& p) {
        f.packets.push_back(p);
        return true;
    });
    return f;
}

Fed feed_bytewise(const std::string& bytes, PacketReader::Limits limits = {}) {
    PacketReader r(limits);
    Fed f;
    for (char c : bytes) {
        f.ok = r.feed(&c, 1, [&](Packet& p) {
            f.packets.push_back(p);
            return true;
        });
        if (!f.ok) break;
    }
    return f;
}

// Every reader case runs whole and one byte at a time, with the same outcome.
Fed feed_both(const std::string& bytes, PacketReader::Limits limits = {}) {
    Fed whole = feed_whole(bytes, limits);
    Fed single = feed_bytewise(bytes, limits);
    EXPECT_EQ(whole.ok, single.ok);
    EXPECT_EQ(whole.packets.size(), single.packets.size());
    for (size_t i = 0; i < whole.packets.size() && i < single.packets.size(); ++i) {
        EXPECT_EQ(whole.packets[i].command, single.packets[i].command);
        EXPECT_EQ(whole.packets[i].headers, single.packets[i].headers);
        EXPECT_EQ(whole.packets[i].body, single.packets[i].body);
    }
    return whole;
}

TEST(PacketWriter, WritesLowerCaseNamesInByteOrderWithLengthInPlace) {
    Packet p("CONTACT ADD");
    p.set_id("Mesg-Id", 32768);
    p.set("Target-Id", "12345");
    p.body = "hello";
    EXPECT_EQ(p.serialize(), "CONTACT ADD\ncontent-length: 5\nmesg-id: 32768\ntarget-id: 12345\n\nhello");

    // Capitalised names stored directly sort before the lower-case ones.
    Packet logon("LOGON");
    logon.headers["Protocol-Version"] = "1.0";
    logon.headers["App-Type"] = "SmartPhone";
    logon.set("a", "1");
    logon.body = "x";
    EXPECT_EQ(logon.serialize(), "LOGON\nApp-Type: SmartPhone\nProtocol-Version: 1.0\na: 1\ncontent-length: 1\n\nx");
}

TEST(PacketWriter, SkipsEmptyValuesAndNeverWritesLineBreaksInValues) {
    Packet p("MESG");
    p.set("Status", "");
    EXPECT_EQ(p.serialize(), "MESG\n\n");

    Packet q("SETTING");
    q.set("Value", "a\nb\rc");
    EXPECT_EQ(q.serialize(), "SETTING\nvalue: a b c\n\n");

    // A stale length header never contradicts the body.
    Packet r("X");
    r.set_int("Content-Length", 99);
    EXPECT_EQ(r.serialize(), "X\n\n");
    r.body = "ab";
    EXPECT_EQ(r.serialize(), "X\ncontent-length: 2\n\nab");
}

TEST(PacketValues, ConvertLikeTheClient) {
    Packet p;
    p.set("a", "12abc");
    p.set("b", " 12");
    p.set("c", "-7x");
    p.set("d", "99999999999999999999");
    EXPECT_EQ(p.get_id("a"), 12u);
    EXPECT_EQ(p.get_id("b"), 0u);
    EXPECT_EQ(p.get_int("b"), 12);
    EXPECT_EQ(p.get_int("c"), -7);
    EXPECT_EQ(p.get_int("d"), INT32_MAX);
    EXPECT_EQ(p.get_int("missing"), 0);
    EXPECT_TRUE(p.has("A"));
    EXPECT_EQ(p.get("C"), "-7x");
}

TEST(PacketReader, ReadsCrLfLikeLfAndSplitsPacketsAndBodies) {
    auto crlf = feed_both("MESG\r\nMesg-Id: 7\r\n\r\n");
    ASSERT_TRUE(crlf.ok);
    ASSERT_EQ(crlf.packets.size(), 1u);
    EXPECT_EQ(crlf.packets[0].command, "MESG");
    EXPECT_EQ(crlf.packets[0].get("mesg-id"), "7");
    EXPECT_TRUE(crlf.packets[0].body.empty());

    auto three = feed_both("A\n\nB\nx: 1\n\nC\n\n");
    ASSERT_EQ(three.packets.size(), 3u);
    EXPECT_EQ(three.packets[0].command, "A");
    EXPECT_EQ(three.packets[1].command, "B");
    EXPECT_EQ(three.packets[2].command, "C");

    auto body = feed_both("X\nContent-Length: 3\n\nabcP\n\n");
    ASSERT_EQ(body.packets.size(), 2u);
    EXPECT_EQ(body.packets[0].body, "abc");
    EXPECT_EQ(body.packets[1].command, "P");

    // Binary bodies keep every byte, LF and NUL included.
    std::string bin("\n\0\r\n", 4);
    auto b = feed_both("Y\ncontent-length: 4\n\n" + bin);
    ASSERT_EQ(b.packets.size(), 1u);
    EXPECT_EQ(b.packets[0].body, bin);
}

TEST(PacketReader, HeaderTolerances) {
    auto f = feed_both("X\nMesg-Id: 5\nMESG-ID: 9\nnospace:v\ntwo:  v\nno colon here\ncut: ab\rcd\n\n");
    ASSERT_TRUE(f.ok);
    ASSERT_EQ(f.packets.size(), 1u);
    const Packet& p = f.packets[0];
    EXPECT_EQ(p.get_int("Mesg-Id"), 9);
    EXPECT_EQ(p.get("nospace"), "v");
    EXPECT_EQ(p.get("two"), " v");
    EXPECT_EQ(p.get("cut"), "ab");
    EXPECT_EQ(p.headers.size(), 4u);

    // A blank line where a command belongs is an empty command.
    auto blank = feed_both("\nx: 1\n\n");
    ASSERT_EQ(blank.packets.size(), 1u);
    EXPECT_EQ(blank.packets[0].command, "");
    EXPECT_EQ(blank.packets[0].get("x"), "1");

    // A length that is not a number counts as none.
    auto nonnum = feed_both("X\ncontent-length: abc\n\nY\n\n");
    ASSERT_EQ(nonnum.packets.size(), 2u);
    EXPECT_EQ(nonnum.packets[1].command, "Y");
}

TEST(PacketReader, RefusesWhatExceedsItsBounds) {
    PacketReader::Limits small{20, 3, 10};
    EXPECT_FALSE(feed_both("X\ncontent-length: -1\n\n").ok);
    EXPECT_FALSE(feed_both("X\ncontent-length: 11\n\n", small).ok);
    EXPECT_TRUE(feed_both("X\ncontent-length: 10\n\n0123456789", small).ok);
    EXPECT_FALSE(feed_both("X\na: 1\nb: 2\nc: 3\nd: 4\n\n", small).ok);
    // Lines without a colon count too, so they cannot stall the reader forever.
    EXPECT_FALSE(feed_both("X\na\nb\nc\nd\n\n", small).ok);
    EXPECT_FALSE(feed_both(std::string(21, 'A') + "\n", small).ok);
    // An endless line is refused before its end ever comes.
    EXPECT_FALSE(feed_both(std::string(100, 'A'), small).ok);
    EXPECT_TRUE(feed_both(std::string(19, 'A') + "\r\n\n", small).ok);
}

TEST(PacketReader, StopsWhenTheHandlerSaysSo) {
    PacketReader r;
    std::string bytes = "A\n\nB\n\n";
    int seen = 0;
    EXPECT_TRUE(r.feed(bytes.data(), bytes.size(), [&](Packet&) {
        ++seen;
        return false;
    }));
    EXPECT_EQ(seen, 1);
}

}  // namespace
