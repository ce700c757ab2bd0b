#include "XVariant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// A zone east of UTC without daylight-saving time, so that a wrong sign of
// the zone offset shows.
class FixedZone : public testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "CST-8", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::string saved_;
    bool hadTz_ = false;
};

XVariant Typed(VARTYPE vt, long long bits) {
    XVariant v;
    v.vt = vt;
    v.llVal = bits;
    return v;
}

}  // namespace

TEST(XVariant, ConstructorsChooseTheirCodes) {
    EXPECT_EQ(XVariant().vt, VT_EMPTY);
    EXPECT_EQ(XVariant("x").vt, VT_BSTR);
    EXPECT_EQ(XVariant(true).vt, VT_BOOL);
    EXPECT_EQ(XVariant('a').vt, VT_I1);
    EXPECT_EQ(XVariant(static_cast<BYTE>(1)).vt, VT_UI1);
    EXPECT_EQ(XVariant(static_cast<short>(1)).vt, VT_I2);
    EXPECT_EQ(XVariant(static_cast<USHORT>(1)).vt, VT_UI2);
    EXPECT_EQ(XVariant(1).vt, VT_I4);
    EXPECT_EQ(XVariant(1L).vt, VT_I4);
    EXPECT_EQ(XVariant(1u).vt, VT_UI4);
    EXPECT_EQ(XVariant(1UL).vt, VT_UI4);
    EXPECT_EQ(XVariant(1.0f).vt, VT_R4);
    EXPECT_EQ(XVariant(1LL).vt, VT_I8);
    EXPECT_EQ(XVariant(1.0, VT_R8).vt, VT_R8);
    EXPECT_EQ(XVariant(1.0, VT_DATE).vt, VT_DATE);
}

TEST(XVariant, WideLongIsNotCut) {
    XVariant v(10000000000L);
    EXPECT_EQ(v.vt, VT_I8);
    EXPECT_EQ(v.llVal, 10000000000LL);
    // An unsigned long past 32 bits exists only where long has 64.
    if (sizeof(ULONG) > 4) {
        XVariant u(static_cast<ULONG>(5000000000ULL));
        EXPECT_EQ(u.vt, VT_I8);
        EXPECT_EQ(u.ToInt64(), 5000000000ULL);
    }
    XVariant w(static_cast<ULONG>(4000000000UL));
    EXPECT_EQ(w.vt, VT_UI4);
    EXPECT_EQ(w.ulVal, 4000000000u);
}

TEST(XVariant, AssignmentAndCopyOwnTheirText) {
    XVariant a("first");
    XVariant b(a);
    a = "second";
    EXPECT_EQ(*b.pStrVal, "first");
    b = a;
    EXPECT_NE(a.pStrVal, b.pStrVal);
    EXPECT_TRUE(a == b);
    b = b;
    EXPECT_EQ(*b.pStrVal, "second");
    b = b.pStrVal->c_str();  // from its own text
    EXPECT_EQ(*b.pStrVal, "second");
    b = 7;
    EXPECT_EQ(b.vt, VT_I4);
    b.Clear();
    EXPECT_EQ(b.vt, VT_EMPTY);
    EXPECT_EQ(b.llVal, 0);
}

TEST(XVariant, DoubleAssignmentKeepsADate) {
    XVariant d(1.0, VT_DATE);
    d = 2.5;
    EXPECT_EQ(d.vt, VT_DATE);
    XVariant r(1);
    r = 2.5;
    EXPECT_EQ(r.vt, VT_R8);
}

TEST(XVariant, Sizes) {
    EXPECT_EQ(XVariant::GetVTSize(VT_BOOL, 9), 2u);
    EXPECT_EQ(XVariant::GetVTSize(VT_I2, 3), 6u);
    EXPECT_EQ(XVariant::GetVTSize(VT_R8, 2), 16u);
    EXPECT_EQ(XVariant::GetVTSize(VT_DATE), 8);
    EXPECT_EQ(XVariant::GetVTSize(VT_DATE, 1), 0u);
    EXPECT_EQ(XVariant::GetVTSize(VT_BSTR), 0);
    EXPECT_EQ(XVariant::GetVTSize(VT_ARRAY), 0);
    EXPECT_EQ(XVariant::GetVTSizeW(VT_DATE), 1);
    EXPECT_EQ(XVariant::GetVTSizeW(VT_I8), 4);
    EXPECT_EQ(XVariant::GetVTSizeW(VT_UINT), 2);
    EXPECT_EQ(XVariant::GetVTSizeW(200), 1);
}

TEST(XVariant, Equality) {
    EXPECT_TRUE(XVariant() == XVariant());
    EXPECT_TRUE(Typed(VT_NULL, 0) == Typed(VT_NULL, 0));
    EXPECT_FALSE(XVariant(1) == XVariant(1u));  // different codes
    EXPECT_TRUE(XVariant("ab") == XVariant("ab"));
    EXPECT_TRUE(XVariant("ab") != XVariant("abc"));
    EXPECT_TRUE(XVariant(0.0, VT_R8) == XVariant(-0.0, VT_R8));
    EXPECT_FALSE(XVariant(NAN, VT_R8) == XVariant(NAN, VT_R8));
    // Integers compare at their width: stray high bits do not count.
    EXPECT_TRUE(Typed(VT_I2, 0x10005) == Typed(VT_I2, 0x5));
    XVariant cy = Typed(VT_CY, 1);
    EXPECT_FALSE(cy == cy);
}

TEST(XVariant, NumericConversions) {
    EXPECT_EQ(XVariant(2.9, VT_R8).ToInt(), 2u);
    EXPECT_EQ(XVariant(-2.9, VT_R8).ToInt(), static_cast<UINT>(-2));
    EXPECT_EQ(XVariant(static_cast<short>(-1)).ToInt(), 0xFFFFFFFFu);
    EXPECT_EQ(XVariant(static_cast<short>(-1)).ToInt64(), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(XVariant(0xFFFFFFFFu).ToInt64(), 0xFFFFFFFFull);
    EXPECT_EQ(XVariant(0x1234567890LL).ToInt(), 0x34567890u);
    EXPECT_EQ(XVariant(static_cast<char>(-3)).ToInt(), static_cast<UINT>(-3));
    EXPECT_EQ(XVariant(static_cast<BYTE>(200)).ToInt(), 200u);
    EXPECT_EQ(XVariant(true).ToDouble(), 1.0);
    EXPECT_FLOAT_EQ(XVariant(1.25, VT_R8).ToFloat(), 1.25f);
    EXPECT_EQ(XVariant(-7.9f).ToInt64(), static_cast<unsigned long long>(-7LL));
    EXPECT_EQ(Typed(VT_CY, 5).ToDouble(), 0.0);
    EXPECT_FALSE(Typed(VT_UI8, 5).ToBool());
    // Out of range saturates instead of wrapping.
    EXPECT_EQ(XVariant(1e20, VT_R8).ToInt(), 0x7FFFFFFFu);
    EXPECT_EQ(XVariant(-1e20, VT_R8).ToInt(), 0x80000000u);
    EXPECT_EQ(XVariant(NAN, VT_R8).ToInt64(), 0u);
}

TEST(XVariant, TextConversions) {
    struct Case {
        const char* text;
        UINT nInt;
        unsigned long long nInt64;
        double d;
        bool b;
    } cases[] = {
        {"#FF0000", 0x0000FF, 0x0000FF, 0.0, true},
        {"#0000FF", 0xFF0000, 0xFF0000, 0.0, true},
        {"#1FF0000FF", 0xFF0000, 0xFF0000, 0.0, true},  // above 24 bits dropped
        {"42abc", 42, 42, 42.0, true},
        {"-5", 0xFFFFFFFB, 0xFFFFFFFFFFFFFFFBull, -5.0, true},
        {"0.5", 0, 0, 0.5, false},
        {"true", 0, 0, 0.0, false},
        {"10000000000", 0x540BE400, 10000000000ull, 1e10, true},
        {"", 0, 0, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        XVariant v(c.text);
        EXPECT_EQ(v.ToInt(), c.nInt);
        EXPECT_EQ(v.ToInt64(), c.nInt64);
        EXPECT_EQ(v.ToDouble(), c.d);
        EXPECT_EQ(v.ToBool(), c.b);
    }
}

TEST_F(FixedZone, TextToDate) {
    EXPECT_EQ(XVariant("2000-01-01 00:00:00").ToDate(), 36526.0);
    EXPECT_EQ(XVariant("2000-01-01 12:00:00").ToDate(), 36526.5);
    EXPECT_EQ(XVariant("2020").ToDate(), 43831.0);        // 2020-01-01 00:00:00
    EXPECT_EQ(XVariant("2000-01-32").ToDate(), 36557.0);  // normalised to 02-01
    EXPECT_EQ(XVariant("").ToDate(), 0.0);
    EXPECT_EQ(XVariant("no digits").ToDate(), 0.0);
    EXPECT_EQ(XVariant(5).ToDate(), 5.0);
}

TEST(XVariant, TextToDateIgnoresDaylightSaving) {
    // In a zone with summer time the wall-clock reading still maps exactly.
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    double summer = XVariant("2021-07-01 12:00:00").ToDate();
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(summer, 44378.5);
}

TEST_F(FixedZone, ChangeType) {
    XVariant v(5);
    XVariant src(9);
    EXPECT_EQ(v.ChangeType(VT_I4, &src), 0);
    EXPECT_EQ(v.lVal, 5);  // same type: source not looked at

    EXPECT_EQ(v.ChangeType(VT_UI8), 1);
    EXPECT_EQ(v.vt, VT_UI8);
    EXPECT_EQ(v.llVal, 0);

    struct Case {
        XVariant from;
        VARTYPE to;
        XVariant expect;
    } cases[] = {
        {XVariant(70000), VT_I2, XVariant(static_cast<short>(70000 - 65536))},
        {XVariant(-1), VT_UI1, XVariant(static_cast<BYTE>(255))},
        {XVariant("12"), VT_R4, XVariant(12.0f)},
        {XVariant(3), VT_R8, XVariant(3.0, VT_R8)},
        {XVariant("2000-01-01 00:00:00"), VT_DATE, XVariant(36526.0, VT_DATE)},
        {XVariant(2.5, VT_R8), VT_BSTR, XVariant("2.5")},
        {XVariant(2), VT_BOOL, XVariant(true)},
        {XVariant("10000000000"), VT_I8, XVariant(10000000000LL)},
        {XVariant(static_cast<short>(-2)), VT_UI4, XVariant(0xFFFFFFFEu)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.to);
        EXPECT_EQ(c.from.ChangeType(c.to), 0);
        EXPECT_TRUE(c.from == c.expect);
    }

    XVariant target(1);
    XVariant text("77");
    EXPECT_EQ(target.ChangeType(VT_BSTR, &text), 0);
    EXPECT_EQ(*target.pStrVal, "77");
    EXPECT_EQ(target.ChangeType(VT_I2, &target), 0);  // source is itself
    EXPECT_EQ(target.iVal, 77);
}

TEST(XVariant, I1IsSignedWhateverPlainCharIs) {
    XVariant v(static_cast<char>(-1));
    EXPECT_EQ(v.vt, VT_I1);
    EXPECT_EQ(v.cVal, -1);
    EXPECT_EQ(static_cast<int>(v.ToInt()), -1);
    EXPECT_EQ(v.ToDouble(), -1.0);
    EXPECT_EQ(v.ChangeType(VT_I4), 0);
    EXPECT_EQ(v.lVal, -1);
}
