#include "ProjectLists.h"

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"

namespace {

std::string Rec(const std::string& name, uint16_t id, uint16_t tags) {
    std::string r = name;
    r += '\0';
    r += static_cast<char>(id & 0xFF);
    r += static_cast<char>(id >> 8);
    r += static_cast<char>(tags & 0xFF);
    r += static_cast<char>(tags >> 8);
    return r;
}

std::map<CString, SNDrvInfoEx> Drivers(const std::string& bytes) {
    std::map<CString, SNDrvInfoEx> map;
    ParseDrvInfo(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), map);
    return map;
}

std::vector<CString> List(const std::string& text) {
    std::vector<CString> list;
    ParseStringList(reinterpret_cast<const BYTE*>(text.data()), text.size(), list);
    return list;
}

}  // namespace

TEST(ProjectLists, DriverFile) {
    auto map = Drivers(Rec("PLC1", 0, 5) + Rec("Meter", 1, 300));
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map["PLC1"].tagNum, 5);
    EXPECT_EQ(map["Meter"].id, 1);
    EXPECT_EQ(map["Meter"].tagNum, 300);
    EXPECT_EQ(map["Meter"].pDriver, nullptr);

    map = Drivers(std::string("\0\x02\x00\x03\x00", 5));  // five bytes: one empty name
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[""].id, 2);

    std::string two = Rec("A", 0, 1) + Rec("B", 1, 2);
    EXPECT_EQ(Drivers(two.substr(0, two.size() - 1)).size(), 1u);  // last tail one byte short
    EXPECT_EQ(Drivers(Rec("A", 0, 1) + "Unterminated").size(), 1u);
    EXPECT_TRUE(Drivers("abcd").empty());

    map = Drivers(Rec("A", 0, 1) + Rec("A", 3, 9));  // the later record wins
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map["A"].id, 3);
    EXPECT_EQ(map["A"].tagNum, 9);
}

TEST(ProjectLists, ListFiles) {
    struct Case {
        std::string text;
        std::vector<CString> entries;
    } cases[] = {
        {"one\ntwo\n", {"one", "two"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"one\ntwo", {"one", "two"}},
        {"one\ntwo\r", {"one", "two"}},
        {"first\n\nthird\n", {"first", "third"}},  // the third line has index 1
        {"\r\n\r\n", {}},
        {std::string("ab\0cd\n\0skip\nz", 13), {"ab", "z"}},
        {"\xD6\xD0\n", {"\xE4\xB8\xAD"}},  // converted to UTF-8
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(List(c.text), c.entries);
    }
    std::vector<CString> longLine = List(std::string(300, 'x') + "\nnext\n");
    ASSERT_EQ(longLine.size(), 2u);
    EXPECT_EQ(longLine[0], std::string(255, 'x'));
    EXPECT_EQ(longLine[1], "next");
}

TEST(ProjectLists, Loaders) {
    TempDir dir;
    std::string prj = dir.path() + "/";
    std::map<CString, SNDrvInfoEx> map;
    LoadPrjDrvInfo(prj.c_str(), map);  // no file: nothing
    EXPECT_TRUE(map.empty());
    dir.Write("RecData/drvinfo.dat", Rec("PLC1", 0, 5));
    map["Old"] = SNDrvInfoEx();
    LoadPrjDrvInfo(prj.c_str(), map);
    EXPECT_EQ(map.size(), 2u);  // entries the file does not hold stay

    std::string path = dir.Write("RecData/textlist", "a\nb\n");
    std::vector<CString> list;
    InitStringList(path.c_str(), list);
    EXPECT_EQ(list, (std::vector<CString>{"a", "b"}));
    dir.Write("RecData/textlist", "changed\n");
    InitStringList(path.c_str(), list);  // loaded once
    EXPECT_EQ(list, (std::vector<CString>{"a", "b"}));
}
