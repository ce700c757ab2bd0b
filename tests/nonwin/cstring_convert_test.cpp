#include <gtest/gtest.h>

#include <cstring>

#include "cstring.h"

namespace {

// U+4E2D in GB2312 and in UTF-8.
const char kGbZhong[] = "\xD6\xD0";
const char kUtf8Zhong[] = "\xE4\xB8\xAD";
// U+1F600 is outside GB2312.
const char kUtf8Outside[] = "ab\xF0\x9F\x98\x80z";

}  // namespace

TEST(CStringConvert, TwoByteCharacterBothWays) {
    CString utf8;
    CString(std::string("A") + kGbZhong + "b").ToUtf8(utf8);
    EXPECT_EQ(utf8, std::string("A") + kUtf8Zhong + "b");

    CString gb;
    gb.FromUtf8(utf8, utf8.size());
    EXPECT_EQ(gb, std::string("A") + kGbZhong + "b");

    EXPECT_EQ(CT2UTF8(kGbZhong), kUtf8Zhong);
    EXPECT_EQ(CUTF82T(kUtf8Zhong), kGbZhong);
}

TEST(CStringConvert, AsciiAndEmptyPassUnchanged) {
    EXPECT_EQ(CT2UTF8("Tank_1.PV"), "Tank_1.PV");
    EXPECT_EQ(CUTF82T("Tank_1.PV"), "Tank_1.PV");
    testing::internal::CaptureStderr();
    CString out("stale");
    ::ToUtf8("", out, 0);
    EXPECT_EQ(out, "");
    out = "stale";
    out.FromUtf8("ignored", 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CStringConvert, CharacterOutsideGb2312CutsTheText) {
    testing::internal::CaptureStderr();
    CUTF82T gb(kUtf8Outside);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(gb, "ab");
    EXPECT_EQ(err.rfind("FromUtf8:iconv:: ", 0), 0u) << err;
    EXPECT_EQ(err.back(), '\n');
}

TEST(CStringConvert, InvalidGb2312CutsTheUtf8Form) {
    testing::internal::CaptureStderr();
    CT2UTF8 utf8("ok\xFF\xFFrest");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(utf8, "ok");
    EXPECT_EQ(err.rfind("ToUtf8:iconv:: ", 0), 0u) << err;
}

TEST(CStringConvert, ExplicitLengthStopsEarly) {
    CString out;
    ::ToUtf8("abcdef", out, 3);
    EXPECT_EQ(out, "abc");
}

TEST(CStringConvert, Utf16RoundTrip) {
    CString gb(std::string("x") + kGbZhong);
    size_t n = 99;
    unsigned short* w = gb.ToUtf16(n);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(w[0], u'x');
    EXPECT_EQ(w[1], 0x4E2D);
    EXPECT_EQ(CString(w, n), gb);
    delete[] w;

    unsigned short* e = ::ToUtf16("", n, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(n, 0u);
    delete[] e;
}

TEST(CStringConvert, Utf16Failures) {
    testing::internal::CaptureStderr();
    size_t n = 7;
    EXPECT_EQ(::ToUtf16("a\xFF", n, 0), nullptr);
    EXPECT_EQ(n, 0u);
    const unsigned short outside[] = {u'a', 0x20AC, u'b'};  // the euro sign
    CString gb(outside, 3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(gb, "a");
    EXPECT_NE(err.find("ToUtf16:iconv: "), std::string::npos) << err;
    EXPECT_NE(err.find("FromUtf16:iconv: "), std::string::npos) << err;
}

TEST(CStringConvert, OutputMayAliasInput) {
    CString s(kGbZhong);
    ::ToUtf8(s.c_str(), s, 0);
    EXPECT_EQ(s, kUtf8Zhong);
}
