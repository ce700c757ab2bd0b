#include "cstring.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(CString, TokenizeWalksPastEmptyFields) {
    CString s(",a,,b");
    int pos = 0;
    EXPECT_EQ(s.Tokenize(",", pos), "a");
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(s.Tokenize(",", pos), "b");
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(s.Tokenize(",", pos), "");
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(s.Tokenize(",", pos), "");  // stays finished
    EXPECT_EQ(pos, -1);
}

TEST(CString, TokenizeWithoutDelimiters) {
    CString s("abc");
    int pos = 1;
    EXPECT_EQ(s.Tokenize("", pos), "");
    EXPECT_EQ(pos, 1);  // inside the string: unchanged
    pos = 3;
    EXPECT_EQ(s.Tokenize(nullptr, pos), "");
    EXPECT_EQ(pos, -1);
    pos = 0;
    EXPECT_EQ(CString(",,,").Tokenize(",", pos), "");
    EXPECT_EQ(pos, -1);
}

TEST(CString, ReplaceNeverSearchesInsertedText) {
    CString s("aXa");
    EXPECT_EQ(s.Replace("a", "aa"), 2);
    EXPECT_EQ(s, "aaXaa");
    CString t("abab");
    EXPECT_EQ(t.Replace("ab", ""), 2);
    EXPECT_EQ(t, "");
    CString u("xyz");
    EXPECT_EQ(u.Replace("", "q"), 0);  // an empty search text replaces nothing
    EXPECT_EQ(u.Replace("", ""), 0);
    EXPECT_EQ(u, "xyz");
    EXPECT_EQ(u.Replace('y', 'Y'), 1);
    EXPECT_EQ(u, "xYz");
}

TEST(CString, RemoveAndTrim) {
    CString s("xaxx");
    EXPECT_EQ(s.Remove('x'), 3);
    EXPECT_EQ(s, "a");

    struct Case {
        const char* in;
        const char* set;
        const char* left;
        const char* right;
        const char* both;
    } cases[] = {
        {"abc))", ")", "abc))", "abc", "abc"},
        {"  ", " ", "", "", ""},
        {" \tab c\t ", " \t", "ab c\t ", " \tab c", "ab c"},
        {"", " ", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(CString(c.in).TrimLeft(c.set), c.left);
        EXPECT_EQ(CString(c.in).TrimRight(c.set), c.right);
        EXPECT_EQ(CString(c.in).Trim(c.set), c.both);
    }
    EXPECT_EQ(CString("abc))").TrimRight(')'), "abc");
    EXPECT_EQ(CString("((a(").TrimLeft('('), "a(");
    EXPECT_EQ(CString("--a--").Trim('-'), "a");
}

TEST(CString, SubstringsAndSearch) {
    CString s("ab:cd:ef");
    EXPECT_EQ(s.Left(2), "ab");
    EXPECT_EQ(s.Left(99), s);
    EXPECT_EQ(s.Right(2), "ef");
    EXPECT_EQ(s.Right(99), s);
    EXPECT_EQ(s.Mid(3), "cd:ef");
    EXPECT_EQ(s.Mid(3, 2), "cd");
    EXPECT_EQ(s.Mid(6, 99), "ef");
    EXPECT_EQ(s.Mid(8), "");
    EXPECT_THROW(s.Mid(9), std::out_of_range);
    EXPECT_EQ(s.Find(':'), 2);
    EXPECT_EQ(s.Find(':', 3), 5);
    EXPECT_EQ(s.Find("cd"), 3);
    EXPECT_EQ(s.Find("cd", 4), -1);
    EXPECT_EQ(s.ReverseFind(':'), 5);
    EXPECT_EQ(CString("abc").ReverseFind(':'), -1);
}

TEST(CString, EditingMembers) {
    CString s("ac");
    EXPECT_EQ(s.Insert(1, 'b'), 3);
    EXPECT_EQ(s.Insert(99, "de"), 5);
    EXPECT_EQ(s, "abcde");
    s.SetAt(0, 'A');
    s.SetAt(99, 'Z');
    EXPECT_EQ(s.GetAt(0), 'A');
    EXPECT_EQ(s.GetAt(-1), 0);
    s.Truncate(3);
    EXPECT_EQ(s, "Abc");
    s.Truncate(10);
    EXPECT_EQ(s, "Abc");
    s.AppendChar('!');
    s.Append("xyz", 2);
    s.Append("?");
    EXPECT_EQ(s, "Abc!xy?");
    EXPECT_EQ(CString('-', 3), "---");
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_EQ(s.GetLength(), 7);
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CString, CaseFoldingLeavesGb2312BytesAlone) {
    // "Ab" + GB2312 for U+4E2D (D6 D0), whose bytes are not letters.
    char raw[] = "Ab\xD6\xD0Z";
    EXPECT_STREQ(_strlwr(raw), "ab\xD6\xD0z");
    CString s("MiXeD");
    EXPECT_EQ(s.MakeLower(), "mixed");
    EXPECT_EQ(s.MakeUpper(), "MIXED");
    EXPECT_EQ(CString("RecData").CompareNoCase("recdata"), 0);
    EXPECT_LT(CString("a").CompareNoCase("B"), 0);
    EXPECT_GT(CString("ab").CompareNoCase("A"), 0);
}

TEST(CString, OrdersBytesAsUnsigned) {
    // Map keys compare byte-wise unsigned: a GB2312 lead byte sorts after ASCII.
    EXPECT_LT(CString("Z"), CString("\xB0\xA1"));
    EXPECT_LT(CString("ab"), CString("abc"));
}
