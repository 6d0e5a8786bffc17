// The chunked-body decoder of the transport that reads HTTP/1.1 itself: a body decodes the same
// whatever pieces it arrives in, and every way its framing can break or be cut short is told.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HttpChunks.h"
#include "HttpReplyLimits.h"

using devhost::ChunkedBody;
using devhost::ReplyBody;
using testing::HasSubstr;

namespace {

struct Decoded {
    std::string body;
    std::string failure; // from Feed, else from CheckEnd
};

// Fed in pieces of pieceBytes, then the connection ends.
Decoded Decode(const std::string& wire, std::size_t pieceBytes = 1, std::size_t maxBytes = 1000)
{
    ChunkedBody chunks;
    ReplyBody body(maxBytes);
    for (std::size_t at = 0; at < wire.size(); at += pieceBytes) {
        if (std::string why = chunks.Feed(wire.data() + at, std::min(pieceBytes, wire.size() - at), body); !why.empty())
            return {body.Take(), why};
    }
    return {body.Take(), chunks.CheckEnd()};
}

} // namespace

TEST(HttpChunksTest, ABodyDecodesAlikeInAnyPiecesAndEndsAtItsFinalChunk)
{
    const std::string wire = "5\r\nhello\r\n7;name=value\r\n, world\r\nA \r\n0123456789\r\n0\r\nX-Sum: 1\r\n\r\nafter";
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, wire.size()}) {
        Decoded decoded = Decode(wire, piece);
        EXPECT_EQ(decoded.failure, "") << piece;
        EXPECT_EQ(decoded.body, "hello, world0123456789") << piece;
    }
}

TEST(HttpChunksTest, BrokenOrCutFramingIsToldInWords)
{
    struct Case {
        std::string wire;
        const char* why;
    };
    for (const Case& broken : {Case{"400\r\n0123456789", "10 of its 1024 bytes"},
                               Case{"a\r\n0123456789\r\n", "without the final chunk"},
                               Case{"a\r\n0123456789\r\n0\r\nX-Sum: 1\r\n", "inside the trailer"},
                               Case{"0x400\r\n", "no hexadecimal number"},
                               Case{"\r\n", "no hexadecimal number"},
                               Case{"ffffffffffffffffff\r\n", "no hexadecimal number"},
                               Case{"3\r\n0123456789\r\n0\r\n\r\n", "longer than the 3 bytes"},
                               Case{"3e9\r\n" + std::string(1001, 'x'), "larger than 1000 bytes"}}) {
        EXPECT_THAT(Decode(broken.wire).failure, HasSubstr(broken.why)) << broken.wire;
    }
    EXPECT_THAT(Decode(std::string(5000, '1')).failure, HasSubstr("longer than 4096 bytes"));
}
