#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <vector>

#include "XVariant.h"

namespace {

typedef std::vector<BYTE> Bytes;

Bytes Encode(const XVariant& v, bool bIncludeVT) {
    Bytes b(v.BufferSize(bIncludeVT));
    EXPECT_EQ(v.ToBuffer(b.data(), b.size(), bIncludeVT), b.size());
    return b;
}

// One value of every supported type, edge values included.
std::vector<XVariant> SampleValues() {
    std::vector<XVariant> v;
    v.emplace_back();
    XVariant null;
    null.vt = VT_NULL;
    v.push_back(null);
    v.emplace_back(static_cast<short>(-32768));
    v.emplace_back(static_cast<USHORT>(65535));
    v.emplace_back(INT_MIN);
    XVariant i;
    i.vt = VT_INT;
    i.intVal = -7;
    v.push_back(i);
    v.emplace_back(static_cast<UINT>(4294967295u));
    XVariant u;
    u.vt = VT_UINT;
    u.uintVal = 123456789;
    v.push_back(u);
    v.emplace_back(-1.5f);
    v.emplace_back(DBL_MAX, VT_R8);
    v.emplace_back(36526.75, VT_DATE);
    v.emplace_back(LLONG_MIN);
    v.emplace_back(true);
    v.emplace_back(false);
    v.emplace_back(static_cast<char>(-128));
    v.emplace_back(static_cast<BYTE>(255));
    v.emplace_back("");
    v.emplace_back("Tank \xD6\xD0 level");
    return v;
}

}  // namespace

TEST(XVariantWire, TypedRoundTripOfEverySupportedType) {
    for (const XVariant& v : SampleValues()) {
        SCOPED_TRACE(v.vt);
        Bytes b = Encode(v, true);
        ASSERT_EQ(b.size(), v.BufferSize(true));
        XVariant back;
        EXPECT_EQ(back.FromBuffer(b.data(), true), b.size());
        XVariant bounded(3.0f);
        EXPECT_EQ(bounded.FromBuffer(b.data(), b.size(), true), b.size());
        if (v.vt == VT_NULL || v.vt == VT_EMPTY) {
            EXPECT_EQ(back.vt, v.vt);
        } else {
            EXPECT_TRUE(back == v);
            EXPECT_TRUE(bounded == v);
        }
    }
}

TEST(XVariantWire, UntypedRoundTripUsesThePresentType) {
    for (const XVariant& v : SampleValues()) {
        SCOPED_TRACE(v.vt);
        Bytes b = Encode(v, false);
        XVariant back;
        back.vt = v.vt;
        EXPECT_EQ(back.FromBuffer(b.data(), b.size(), false), b.size());
        EXPECT_EQ(back.vt, v.vt);
        if (v.vt != VT_NULL && v.vt != VT_EMPTY) {
            EXPECT_TRUE(back == v);
        }
    }
}

TEST(XVariantWire, BoundedDecodeRefusesEveryTruncation) {
    for (const XVariant& v : SampleValues()) {
        Bytes b = Encode(v, true);
        for (size_t cut = 0; cut < b.size(); cut++) {
            SCOPED_TRACE(testing::Message() << "vt " << v.vt << " cut " << cut);
            Bytes part(b.begin(), b.begin() + cut);  // exact-size heap block for ASan
            XVariant dst(static_cast<short>(77));
            EXPECT_EQ(dst.FromBuffer(part.data(), part.size(), true), 0u);
            EXPECT_EQ(dst.vt, VT_I2);  // unchanged on refusal
            EXPECT_EQ(dst.iVal, 77);
        }
    }
}

TEST(XVariantWire, DocumentedEncodings) {
    struct Case {
        XVariant v;
        Bytes bytes;
    } cases[] = {
        {XVariant(1), {0x03, 0x00, 0x01, 0x00, 0x00, 0x00}},
        {XVariant(true), {0x0B, 0x00, 0x01}},
        {XVariant("abc"), {0x08, 0x00, 0x61, 0x62, 0x63, 0x00}},
        {XVariant(""), {0x08, 0x00, 0x00}},
        {XVariant(), {0x00, 0x00}},
        {XVariant(1.0, VT_R8), {0x05, 0x00, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v.vt);
        EXPECT_EQ(Encode(c.v, true), c.bytes);
    }
    XVariant cy;
    cy.vt = VT_CY;
    EXPECT_EQ(Encode(cy, true), (Bytes{0x06, 0x00}));
    EXPECT_EQ(cy.BufferSize(false), 0u);
}

TEST(XVariantWire, ToBufferNeverWritesPastItsLength) {
    XVariant v("abcdef");
    BYTE buf[16];
    memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(v.ToBuffer(buf, 8, true), 0u);  // needs 9
    for (BYTE b : buf)
        EXPECT_EQ(b, 0xEE);
    EXPECT_EQ(v.ToBuffer(buf, 9, true), 9u);
}

TEST(XVariantWire, UntypedBooleanAndEmpty) {
    const BYTE one[] = {0x01}, two[] = {0x02};
    XVariant b(false);
    EXPECT_EQ(b.FromBuffer(one, false), 1u);
    EXPECT_TRUE(b.boolVal);
    EXPECT_EQ(b.FromBuffer(two, 1, false), 1u);
    EXPECT_TRUE(b == XVariant(true));  // stored as 1

    XVariant e;
    EXPECT_EQ(e.FromBuffer(one, false), 0u);
    EXPECT_EQ(e.FromBuffer(one, 1, false), 0u);
    EXPECT_EQ(e.vt, VT_EMPTY);
}

TEST(XVariantWire, ArrayIsReadOver) {
    const Bytes arr = {0x00, 0x20, 0x02, 0x00, 0x03, 0x00, 0x07,
                       0x00, 0x00, 0x00, 0x0B, 0x00, 0x01, 0xAA};
    XVariant v(5);
    EXPECT_EQ(v.FromBuffer(arr.data(), true), 13u);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(v.llVal, 0);
    XVariant w;
    EXPECT_EQ(w.FromBuffer(arr.data(), arr.size(), true), 13u);
    EXPECT_EQ(w.vt, VT_ARRAY | VT_VARIANT);
    for (size_t cut = 0; cut < 13; cut++) {
        Bytes part(arr.begin(), arr.begin() + cut);
        EXPECT_EQ(w.FromBuffer(part.data(), part.size(), true), 0u) << cut;
    }
}

TEST(XVariantWire, DeeplyNestedArraysAreRefused) {
    Bytes nest;
    for (int i = 0; i < 1000; i++)
        nest.insert(nest.end(), {0x00, 0x20, 0x01, 0x00});
    nest.insert(nest.end(), {0x00, 0x00});
    XVariant v;
    EXPECT_EQ(v.FromBuffer(nest.data(), nest.size(), true), 0u);
}

TEST(XVariantWire, CodeNineReadsAsText) {
    const Bytes b = {0x09, 0x00, '{', '}', 0x00};
    XVariant v;
    EXPECT_EQ(v.FromBuffer(b.data(), b.size(), true), 5u);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(*v.pStrVal, "{}");
}

TEST(XVariantWire, UnsupportedCodeReadsOnlyItsTypeCode) {
    const Bytes b = {0x15, 0x00, 0x01, 0x02};  // VT_UI8
    XVariant v(3);
    EXPECT_EQ(v.FromBuffer(b.data(), b.size(), true), 2u);
    EXPECT_EQ(v.vt, VT_UI8);
    EXPECT_EQ(v.llVal, 0);
    XVariant u;
    u.vt = VT_UI8;
    EXPECT_EQ(u.FromBuffer(b.data(), b.size(), false), 0u);
}
