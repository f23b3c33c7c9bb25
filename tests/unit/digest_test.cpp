// SHA-256 and base64 against the standards' test vectors.
#include <gtest/gtest.h>

#include <string>

#include "page/digest.h"

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(DigestTest, Sha256Vectors) {
    struct Case {
        std::string in;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Lengths at the padding's edges: 55 fits one block, 56 needs two.
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(G_sha256(c.in)), c.digest) << c.in.size();
    EXPECT_EQ(G_base64(G_sha256("history.back()")), "LdlORHyUW/rwezK0l13nW+IwcZmi78eWOCBjewMWRr4=");
}

TEST(DigestTest, Base64Vectors) {
    const char* const cases[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                    {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) EXPECT_EQ(G_base64(c[0]), c[1]) << c[0];
    EXPECT_EQ(G_base64(std::string("\xFF\xFE\x00", 3)), "//4A");
}

}  // namespace
