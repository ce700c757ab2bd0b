#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "XVariant.h"

namespace {

std::string Text(const XVariant& v, int nPointBit) {
    CString s("stale");
    EXPECT_TRUE(v.ToStringA(s, nPointBit));
    return s;
}

}  // namespace

TEST(XVariantText, NumbersAndPadding) {
    struct Case {
        XVariant v;
        int nPointBit;
        const char* text;
    } cases[] = {
        {XVariant(5), 2, "5.00"},
        {XVariant(5), -1, "5"},
        {XVariant(static_cast<short>(-3)), 1, "-3.0"},
        {XVariant(static_cast<USHORT>(65535)), 0, "65535"},
        {XVariant(static_cast<BYTE>(200)), -1, "200"},
        {XVariant(static_cast<char>(-1)), -1, "-1"},
        {XVariant(4294967295u), -1, "4294967295"},
        {XVariant(4294967295u), 3, "4294967295.000"},
        {XVariant(10000000000LL), 2, "10000000000"},  // no padding for I8
        {XVariant(true), 4, "1"},
        {XVariant(false), -1, "0"},
        {XVariant(2.5, VT_R8), 0, "3"},
        {XVariant(-2.5, VT_R8), 0, "-3"},
        {XVariant(3.14159, VT_R8), 2, "3.14"},
        {XVariant(3.14159, VT_R8), -1, "3.14159"},
        {XVariant(1e30, VT_R8), 10, "1000000000000000019884624838656.0000000000"},
        {XVariant(1e30, VT_R8), 0, "1000000000000000019884624838656"},
        {XVariant(2.5f), 0, "3"},
        {XVariant(0.1f), -1, "0.1"},
        {XVariant("as is"), 3, "as is"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text(c.v, c.nPointBit), c.text);
    }
}

TEST(XVariantText, UnsupportedTypeGivesEmptyAndFalse) {
    CString s("stale");
    EXPECT_FALSE(XVariant().ToStringA(s, -1));
    EXPECT_EQ(s, "");
    XVariant arr;
    arr.vt = VT_ARRAY | VT_VARIANT;
    EXPECT_FALSE(arr.ToStringA(s, 2));
    EXPECT_EQ(CString(arr), "");
}

TEST(XVariantText, DatesInAFixedZone) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "CST-8", 1);
    tzset();
    EXPECT_EQ(Text(XVariant(36526.5, VT_DATE), 3), "2000-01-01 12:00:00");
    // Half a second short of midnight rounds up.
    EXPECT_EQ(Text(XVariant(36526.0 - 0.4 / 86400, VT_DATE), -1), "2000-01-01 00:00:00");
    XVariant round("2024-05-07 08:09:10");
    round.ChangeType(VT_DATE);
    EXPECT_EQ(CString(round), "2024-05-07 08:09:10");
    // No calendar reading: empty text, still true.
    EXPECT_EQ(Text(XVariant(1e300, VT_DATE), -1), "");
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(XVariantText, CStringFromValue) {
    EXPECT_EQ(CString(XVariant("abc")), "abc");
    EXPECT_EQ(CString(XVariant(42)), "42");
    EXPECT_EQ(CString(XVariant(1.5, VT_R8)), "1.5");
    XVariant noText;
    noText.vt = VT_BSTR;
    noText.pStrVal = nullptr;
    EXPECT_EQ(CString(noText), "");
    noText.vt = VT_EMPTY;
}

TEST(XVariantText, DateTemplate) {
    struct Case {
        int year;
        const char* format;
        const char* text;
    } cases[] = {
        {2024, "$Y/$2M/$2D", "2024/05/07"},
        {2024, "$2Y", "2024"},
        {7, "$2Y", " 7"},
        {2024, "$M-$m-$D $h:$s", "5-9-7 8:10"},
        {2024, "$2h:$2m:$2s", "08:09:10"},
        {2024, "$M and $2M", "5 and $2M"},  // both forms: the padded one stays
        {2024, "$Y$Y", "20242024"},
        {2024, "no fields", "no fields"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        CString out("stale");
        DateToStr(c.year, 5, 7, 8, 9, 10, c.format, out);
        EXPECT_EQ(out, c.text);
    }
}
