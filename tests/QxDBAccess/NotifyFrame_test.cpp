#include "NotifyFrame.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "SimNotify.h"

namespace {

// Driver 1 with tags 0, 1 and 2.
class FakeTags : public INotifyTags {
public:
    bool HasTag(WORD id, WORD pos) const override {
        return types.count(std::make_pair(id, pos)) > 0;
    }
    std::map<std::pair<WORD, WORD>, VARTYPE> types = {
        {{1, 0}, VT_I4}, {{1, 1}, VT_BSTR}, {{1, 2}, VT_EMPTY}};
};

size_t Frame(const std::string& bytes, SNotifyMsg& msg) {
    static const FakeTags tags;
    return FrameServerMsg(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), tags, msg);
}

}  // namespace

TEST(NotifyFrame, EveryServerMessageType) {
    struct Case {
        BYTE type;
        size_t len;
        ENotifyKind kind;
    } cases[] = {
        {1, 35, kNotifyAlarm}, {3, 35, kNotifyAlarm}, {2, 7, kNotifySkip},   {5, 7, kNotifySkip},
        {7, 7, kNotifySkip},   {4, 43, kNotifySkip},  {6, 20, kNotifySkip},  {8, 5, kNotifySkip},
        {9, 8, kNotifySkip},   {14, 8, kNotifySkip},  {15, 8, kNotifySkip},  {22, 8, kNotifySkip},
        {10, 15, kNotifySkip}, {11, 15, kNotifySkip}, {12, 15, kNotifySkip}, {13, 15, kNotifySkip},
        {16, 11, kNotifySkip}, {17, 11, kNotifySkip}, {18, 11, kNotifySkip}, {19, 11, kNotifySkip},
        {20, 11, kNotifySkip}, {21, 11, kNotifySkip}, {255, 3, kNotifySkip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        std::string msg = SimServerMsg(c.type, 1, 0, "abc");
        ASSERT_EQ(msg.size(), c.len);
        SNotifyMsg m;
        EXPECT_EQ(Frame(msg + "trailing", m), c.len);
        EXPECT_EQ(m.kind, c.kind);
        // Every cut of the message asks for more bytes, never more than it has.
        for (size_t cut = 0; cut < c.len; cut++) {
            std::string part = msg.substr(0, cut);
            EXPECT_EQ(Frame(part, m), kFrameNeedMore) << "cut " << cut;
        }
    }
}

TEST(NotifyFrame, UnknownTypesAndUnknownTagsCannotBeFramed) {
    SNotifyMsg m;
    for (BYTE type : {0, 23, 100, 254}) {
        EXPECT_EQ(
            Frame(std::string("\xFF\xFF", 2) + static_cast<char>(type) + std::string(64, '\0'), m),
            kFrameBad)
            << static_cast<int>(type);
    }
    // Types 9 to 22 name a tag that must exist.
    EXPECT_EQ(Frame(SimServerMsg(9, 2, 0), m), kFrameBad);   // no driver 2
    EXPECT_EQ(Frame(SimServerMsg(12, 1, 7), m), kFrameBad);  // no tag 7
    EXPECT_EQ(Frame(SimServerMsg(16, 1, 9, "x"), m), kFrameBad);
}
