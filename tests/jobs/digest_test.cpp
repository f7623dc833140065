// The digests against the standards' own test vectors, on every system's backend (OpenSSL on
// Linux, CNG on Windows): both agree with the vectors, so with each other. Bytes arrive in uneven
// pieces, and a context is used again after finishing and after being moved.

#include "jobs/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = digest::Context::Kind;

TEST(Digest, KnownVectorsInUnevenPiecesAndAgain) {
    const std::string million(1000000, 'a');
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const struct {
        Kind kind;
        const std::string& message;
        const char* expected;
    } cases[] = {
        {Kind::Md5, "", "D41D8CD98F00B204E9800998ECF8427E"},
        {Kind::Md5, "abc", "900150983CD24FB0D6963F7D28E17F72"},
        {Kind::Md5, twoBlocks, "8215EF0796A20BCAAAE116D3876C664A"},
        {Kind::Md5, million, "7707D6AE4E027C70EEA2A935C2296F21"},
        {Kind::Sha1, "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {Kind::Sha1, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {Kind::Sha1, twoBlocks, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {Kind::Sha1, million, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {Kind::Sha256, "", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {Kind::Sha256, "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {Kind::Sha256, twoBlocks, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {Kind::Sha256, million, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.expected) + " of " + std::to_string(c.message.size()) + " bytes");
        digest::Context context(c.kind);
        // Pieces of 1, 2, 3 ... bytes: every split within and across the 64-byte blocks.
        for (size_t at = 0, piece = 1; at < c.message.size(); at += piece, ++piece)
            context.add(c.message.data() + at, std::min(piece, c.message.size() - at));
        EXPECT_EQ(context.finish(), c.expected);
        // Started again, the same context gives the same answer; a moved one carries on.
        context.start();
        context.add(c.message.data(), c.message.size() / 2);
        digest::Context moved = std::move(context);
        moved.add(c.message.data() + c.message.size() / 2, c.message.size() - c.message.size() / 2);
        EXPECT_EQ(digest::hexText(moved.finishRaw()), c.expected);
    }
}

} // namespace
