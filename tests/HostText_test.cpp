#include "HostText.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

TEST(HostText, DirectForms) {
    struct Case {
        const char* text;
        const char* host;
        UINT port;
    } cases[] = {
        {"plc-server", "plc-server", 80},
        {"10.1.2.3:4000", "10.1.2.3", 4000},
        {"host:0", "host", 80},
        {"host:x", "host", 80},
        {"host:", "host", 80},
        {":4000", ":4000", 80},  // a leading colon is no separator
        {"host:70000", "host", 70000 % 65536},
        {"a:b:81", "a:b", 81},  // the last colon counts
        {"", "", 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SHostAddr a;
        ASSERT_EQ(ParseHostText(c.text, a), 0);
        EXPECT_FALSE(a.bCentre);
        EXPECT_EQ(a.strHost, c.host);
        EXPECT_EQ(a.nPort, c.port);
    }
}

TEST(HostText, CentreForms) {
    SHostAddr a;
    ASSERT_EQ(ParseHostText("p2p:station-7", a), 0);
    EXPECT_TRUE(a.bCentre);
    EXPECT_EQ(a.nPort, 3968u);
    EXPECT_EQ(a.strTarget, "station-7");
    EXPECT_NE(a.nCentreIp, 0u);  // the built-in relay

    for (const char* text :
         {"p2p(192.168.7.9):t1", "P2P(192.168.7.9):t1", "P2p(192.168.7.9)):t1"}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(ParseHostText(text, a), 0);
        EXPECT_EQ(a.nCentreIp, inet_addr("192.168.7.9"));
        EXPECT_EQ(a.strTarget, "t1");
    }
    ASSERT_EQ(ParseHostText("p2p(1.2.3.4):host:99", a), 0);
    EXPECT_EQ(a.strTarget, "host:99");  // the target keeps its colons
}

TEST(HostText, Refusals) {
    SHostAddr a;
    EXPECT_EQ(ParseHostText("p2p", a), E_INVALIDARG);
    EXPECT_EQ(ParseHostText("p2p(1.2.3):t", a), E_INVALIDARG);
    EXPECT_EQ(ParseHostText("p2p(0.0.0.0):t", a), E_INVALIDARG);
    EXPECT_EQ(ParseHostText(("p2p:" + std::string(249, 't')).c_str(), a), 0);
    EXPECT_EQ(ParseHostText(("p2p:" + std::string(250, 't')).c_str(), a), E_FAIL);
    EXPECT_EQ(ParseHostText(("p2p:" + std::string(300, 't')).c_str(), a), E_FAIL);
    EXPECT_EQ(ParseHostText((std::string(249, 'h') + ":3968").c_str(), a), 0);
    EXPECT_EQ(ParseHostText((std::string(250, 'h') + ":3968").c_str(), a), E_FAIL);
}
