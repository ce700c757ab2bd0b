#include "RtAlarm.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(RtAlarm, DecodesEveryFieldFromUnalignedBytes) {
    S2RtAlarm2 a;
    a.almtm = 1700000000;
    a.evttm = 1700000042;
    a.tid = 0x1234;
    a.type = 7;
    a.grp = 0xFFFE;
    a.level = 200;
    a.status = 3;
    a.value = -12.75;
    a.limit = 1e300;
    BYTE buf[1 + kRtAlarmLen + 1];
    EncodeRtAlarm(a, buf + 1);  // at an odd address, as in a notification
    const BYTE expectHead[] = {0x00, 0xF1, 0x53, 0x65, 0x2A, 0xF1, 0x53, 0x65,
                               0x34, 0x12, 0x07, 0x00, 0xFE, 0xFF, 200,  3};
    EXPECT_EQ(memcmp(buf + 1, expectHead, sizeof expectHead), 0);
    S2RtAlarm2 b;
    ASSERT_TRUE(DecodeRtAlarm(buf + 1, kRtAlarmLen, b));
    EXPECT_EQ(b.almtm, a.almtm);
    EXPECT_EQ(b.evttm, a.evttm);
    EXPECT_EQ(b.tid, a.tid);
    EXPECT_EQ(b.type, a.type);
    EXPECT_EQ(b.grp, a.grp);
    EXPECT_EQ(b.level, a.level);
    EXPECT_EQ(b.status, a.status);
    EXPECT_EQ(b.value, a.value);
    EXPECT_EQ(b.limit, a.limit);
    for (size_t n = 0; n < kRtAlarmLen; n++)
        EXPECT_FALSE(DecodeRtAlarm(buf + 1, n, b)) << n;
}

TEST(RtAlarm, ReplyHead) {
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
        WORD count;
    } cases[] = {
        {"three alarms", std::string("n\x03\x00", 3), true, 3},
        {"none", std::string("n\x00\x00", 3), true, 0},
        {"wrong code", std::string("m\x03\x00", 3), false, 0},
        {"short", std::string("n\x03", 2), false, 0},
        {"long", std::string("n\x03\x00\x00", 4), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WORD n = 0;
        EXPECT_EQ(ParseAlarmHead(reinterpret_cast<const BYTE*>(c.bytes.data()), c.bytes.size(), n),
                  c.ok);
        if (c.ok) {
            EXPECT_EQ(n, c.count);
        }
    }
}

TEST(RtAlarm, TextsBeyondTheListAreQuestionMarks) {
    std::vector<CString> list = {"High level", "Tanks"};
    EXPECT_STREQ(AlarmText(list, 0), "High level");
    EXPECT_STREQ(AlarmText(list, 1), "Tanks");
    EXPECT_STREQ(AlarmText(list, 2), "???");
    EXPECT_STREQ(AlarmText({}, 0), "???");
}
