#include "UpdateServerRequest.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Request = UpdateServerRequest;

constexpr uint32_t SERIAL = 0x1234ABCD;
const Fingerprint FINGERPRINT = {0x00000001, 0x00ABCDEF, 0x0000000A, 0xFFFFFFFF};

// One call of each operation, with outputs the test can look at afterwards.
struct Outputs {
    std::string build = "unset";
    std::string firmware = "unset";
    std::string payload = "unset";
    Request::BuildList builds = {{"stale", "0.0.0"}};
    uint32_t serial = 0xDEAD;
    uint32_t recoveryBuild = 0xBEEF;
    std::string token = "unset";

    bool operator==(const Outputs&) const = default;
};

struct Operation {
    const char* name;
    std::function<bool(Outputs&, const std::string&)> call;
    const char* query;
};

const std::vector<Operation> OPERATIONS = {
    {"ping", [](Outputs&, const std::string& url) { return Request::ping(url); }, "op=hi&rv=2&"},
    {"QueryBuild",
     [](Outputs& o, const std::string& url) { return Request::QueryBuild(SERIAL, o.build, o.firmware, url); },
     "op=qu&sn=1234ABCD&"},
    {"GetBuild",
     [](Outputs& o, const std::string& url) {
         return Request::GetBuild(SERIAL, "fwname", "4567", o.payload, url, false);
     },
     "bld=4567&fw=fwname&no_cal=false&op=bird&sn=1234ABCD&"},
    {"GetBuild",
     [](Outputs& o, const std::string& url) {
         return Request::GetBuild(0xAB, "x", "1", o.payload, url, true);
     },
     "bld=1&fw=x&no_cal=true&op=bird&sn=000000AB&"},
    {"GetBuildList",
     [](Outputs& o, const std::string& url) { return Request::GetBuildList(SERIAL, o.builds, url); },
     "op=builds&sn=1234ABCD&"},
    {"GetRecoveryInfo",
     [](Outputs& o, const std::string& url) {
         return Request::GetRecoveryInfo(FINGERPRINT, o.serial, o.recoveryBuild, url);
     },
     "brief=true&fp=00000001%2000ABCDEF%200000000A%20FFFFFFFF&op=fix&"},
    {"GetDeviceJWT",
     [](Outputs& o, const std::string& url) { return Request::GetDeviceJWT(SERIAL, o.token, url); },
     "json=false&op=ent_jwt&sn=1234ABCD&"},
};

class UpdateServerRequestTest : public ServerTest {
protected:
    // Answers every operation with exactly this, then calls the named one.
    bool CallWithAnswer(const char* name, const std::string& body, Outputs& outputs, int status = 200) {
        server->SetAnswer("*", status, body);
        for (const Operation& operation : OPERATIONS)
            if (std::string(operation.name) == name)
                return operation.call(outputs, url);
        ADD_FAILURE() << "no operation " << name;
        return false;
    }
};

TEST_F(UpdateServerRequestTest, EveryOperationSendsItsQueryInKeyOrder) {
    StartServer();
    server->SetAnswer("*", 200, "ok\naa.bb.cc\n");
    for (const Operation& operation : OPERATIONS) {
        Outputs outputs;
        EXPECT_TRUE(operation.call(outputs, url)) << operation.name;
        EXPECT_EQ(LastQuery(), operation.query) << operation.name;
    }
    Logged();
    Request::ping(url);
    EXPECT_NE(Logged().find("GET(" + url + "?op=hi&rv=2&)\n"), std::string::npos);
}

TEST_F(UpdateServerRequestTest, FirstLineMustBeginWithOk) {
    StartServer();
    struct Case {
        std::string body;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"ok\n", true},       {"okay\n", true},  {"ok\r\n", true},       {"ok", true},
        {"\n\n\nok\n", true}, {"", false},       {"\n\n", false},        {" ok\n", false},
        {"OK\n", false},      {"o\nk\n", false}, {"error\nok\n", false},
    };
    for (const Case& c : cases) {
        Outputs outputs;
        EXPECT_EQ(CallWithAnswer("ping", c.body, outputs), c.accepted) << "[" << c.body << "]";
    }
    Logged();
    Outputs outputs;
    EXPECT_FALSE(CallWithAnswer("GetBuildList", "not ok\n", outputs));
    EXPECT_NE(Logged().find("ServerCommClass: GetBuildList failed [" + url + "?op=builds&sn=1234ABCD&]\n"),
              std::string::npos);
}

// Each answer fills exactly the outputs its lines carry; everything else keeps its earlier value.
TEST_F(UpdateServerRequestTest, AnswersFillOnlyTheOutputsTheyCarry) {
    StartServer();
    struct Case {
        const char* operation;
        std::string body;
        bool accepted;
        std::function<void(Outputs&)> expect;
    };
    auto unchanged = [](Outputs&) {};
    const std::vector<Case> cases = {
        {"QueryBuild", "ok\n4567\nfwname\n", true,
         [](Outputs& o) { o.build = "4567", o.firmware = "fwname"; }},
        {"QueryBuild", "ok\n\n4567\n\nfwname\r\nignored\n", true,
         [](Outputs& o) { o.build = "4567", o.firmware = "fwname"; }},
        // Only the firmware line loses its carriage return.
        {"QueryBuild", "ok\r\n4567\r\n", true, [](Outputs& o) { o.build = "4567\r"; }},
        {"QueryBuild", "ok\n", true, unchanged},

        {"GetBuildList", "ok\n100;1.2.3\n99;1.2.2\nx\n100;9.9.9\n", true,
         [](Outputs& o) {
             o.builds = {{"100", "1.2.3"}, {"99", "1.2.2"}};
         }},
        {"GetBuildList", "ok\r\n100;1.2.3\r\n12\r\n", true,
         [](Outputs& o) {
             o.builds = {{"100", "1.2.3"}, {"12", ""}};
         }},
        {"GetBuildList", "ok\n7;1.0.0;extra\nab\n", true,
         [](Outputs& o) {
             o.builds = {{"7", "1.0.0"}};
         }},
        {"GetBuildList", "ok\n", true, [](Outputs& o) { o.builds.clear(); }},
        {"GetBuildList", "", false, [](Outputs& o) { o.builds.clear(); }},

        {"GetRecoveryInfo", "ok\n1A2B3C4D\n10\n", true,
         [](Outputs& o) { o.serial = 0x1A2B3C4D, o.recoveryBuild = 10; }},
        {"GetRecoveryInfo", "ok\n0x1a2b3c4d\n010\n", true,
         [](Outputs& o) { o.serial = 0x1A2B3C4D, o.recoveryBuild = 8; }},
        {"GetRecoveryInfo", "ok\n00000010\n0x10\r\n", true,
         [](Outputs& o) { o.serial = 0x10, o.recoveryBuild = 16; }},
        {"GetRecoveryInfo", "ok\nABCD\n", true, [](Outputs& o) { o.serial = 0xABCD; }},
        {"GetRecoveryInfo", "ok\n", true, unchanged},

        {"GetDeviceJWT", "ok\naa.bb.cc\r\n", true, [](Outputs& o) { o.token = "aa.bb.cc"; }},
        {"GetDeviceJWT", "ok\neyJh.eyJi.c2ln.more\n", true,
         [](Outputs& o) { o.token = "eyJh.eyJi.c2ln.more"; }},
        {"GetDeviceJWT", "ok\na.bb.cc\n", false, unchanged},
        {"GetDeviceJWT", "ok\naa.b.cc\n", false, unchanged},
        {"GetDeviceJWT", "ok\naa.bb.c\n", false, unchanged},
        {"GetDeviceJWT", "ok\naa.bb\n", false, unchanged},
        {"GetDeviceJWT", "ok\naa..cc\n", false, unchanged},
        {"GetDeviceJWT", "ok\nab\n", false, unchanged},
        {"GetDeviceJWT", "ok\n", false, unchanged},
    };
    for (const Case& c : cases) {
        Outputs outputs, expected;
        c.expect(expected);
        EXPECT_EQ(CallWithAnswer(c.operation, c.body, outputs), c.accepted) << c.operation << " " << c.body;
        EXPECT_TRUE(outputs == expected) << c.operation << " " << c.body;
    }
}

TEST_F(UpdateServerRequestTest, GetBuildTakesThePayloadLineAndClearsItFirst) {
    StartServer();
    Outputs outputs;
    EXPECT_TRUE(CallWithAnswer("GetBuild", "ok\nQUJD\n", outputs));
    EXPECT_EQ(outputs.payload, "QUJD");
    EXPECT_TRUE(CallWithAnswer("GetBuild", "ok\n", outputs));
    EXPECT_EQ(outputs.payload, "");
    outputs.payload = "stale";
    EXPECT_FALSE(CallWithAnswer("GetBuild", "ok\nQUJD\n", outputs, 404));
    EXPECT_EQ(outputs.payload, "");
}

TEST_F(UpdateServerRequestTest, FailedAnswersFailEveryOperationAndAreLogged) {
    StartServer();
    for (UpdateServer::Fault fault : {UpdateServer::Fault::STATUS_404, UpdateServer::Fault::STATUS_500,
                                      UpdateServer::Fault::NOT_OK, UpdateServer::Fault::EMPTY}) {
        server->SetFault("*", fault);
        for (const Operation& operation : OPERATIONS) {
            Outputs outputs;
            EXPECT_FALSE(operation.call(outputs, url))
                << operation.name << " fault " << static_cast<int>(fault);
            EXPECT_EQ(outputs.serial, 0xDEADu);
            EXPECT_EQ(outputs.token, "unset");
            EXPECT_EQ(outputs.build, "unset");
        }
    }
    server->SetFault("*", UpdateServer::Fault::STATUS_404);
    Logged();
    Outputs outputs;
    Request::ping(url);
    Request::QueryBuild(SERIAL, outputs.build, outputs.firmware, url);
    std::string log = Logged();
    EXPECT_NE(log.find("PING ==> [404] [error: not found\n]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("QueryBuild ==> [404] [error: not found\n]\n"), std::string::npos) << log;
}

TEST_F(UpdateServerRequestTest, UnreachableServerIsAFailure) {
    StartServer();
    server->Stop();
    for (const Operation& operation : OPERATIONS) {
        Outputs outputs;
        EXPECT_FALSE(operation.call(outputs, url)) << operation.name;
    }
    std::string log = Logged();
    EXPECT_NE(log.find("ping ==> [Couldn't connect to server]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GetDeviceJWT ==> [Couldn't connect to server]\n"), std::string::npos) << log;
}

TEST_F(UpdateServerRequestTest, ServerThatNeverAnswersIsAbandoned) {
    StartServer();
    server->SetFault("bird", UpdateServer::Fault::HANG);
    HTTPRequest::SetLimits({1000, 1, 1});
    Outputs outputs;
    EXPECT_FALSE(Request::GetBuild(SERIAL, "fw", "1", outputs.payload, url, false));
    EXPECT_NE(Logged().find("GetBuild ==> [Timeout was reached]\n"), std::string::npos);
}

} // namespace
