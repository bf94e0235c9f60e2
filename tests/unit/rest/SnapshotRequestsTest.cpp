// Snapshot and clone requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

const std::string kNoMoreData = "Io exception: No more data to read from socket";

TEST_F(RestTest, CreateSnapshotsIsSentAgainOnlyWhileTheClusterRunsOutOfData) {
    std::map<std::string, std::string> sources = {{"vd1", ""}};
    const ScriptedReply noData{200, errorAnswer("MakeSnapshot", kNoMoreData)};
    const ScriptedReply made{200, okAnswer("MakeSnapshot", R"([{"status":"ok","name":"vd1","snapshotName":"s1"}])")};
    const std::string failed = "The MakeSnapshot request has failed. REST Error-[";
    // {replies in turn (then the server's default 500), code, requests sent, sentence}
    const std::vector<std::tuple<std::vector<ScriptedReply>, unsigned int, size_t, std::string>> rows = {
        {{noData, noData, noData, noData, made}, 0, 5, ""},
        {{noData, noData, noData, noData, noData}, 19, 5, failed + kNoMoreData + " ]"},  // the fifth refusal stands
        {{{200, errorAnswer("MakeSnapshot", "quota exceeded")}}, 19, 1, failed + "quota exceeded ]"},
        {{ScriptedReply::dropped()},
         1,
         1,
         "Failed to create snapshot(s) of one or more source device(s) on the cluster"},
    };
    for (const auto& [replies, code, sent, text] : rows) {
        srv.clearRequests();
        ctx().resetError();
        for (const ScriptedReply& reply : replies) srv.reply(reply);
        EXPECT_EQ(code, utils().rest_createSnaps(sources));
        EXPECT_EQ(text, errorText());
        const auto requests = srv.requests();
        EXPECT_EQ(sent, requests.size()) << text;
        for (const auto& request : requests) {
            EXPECT_EQ("PUT", request.method);
            EXPECT_EQ(requests[0].request, request.request);
        }
    }
    EXPECT_EQ("s1", sources["vd1"]);
}

TEST_F(RestTest, PartlyMadeSnapshotsFailWithTheNamesOfThoseMadeAndAreNotSentAgain) {
    // An earlier answer's message must not make a partly successful request go out twice.
    srv.reply(200, errorAnswer("MakeSnapshot", kNoMoreData));
    srv.reply(200, okAnswer("MakeSnapshot", R"([{"status":"ok","name":"a","snapshotName":"sa"},
        {"status":"error","name":"b","message":"no space"},
        {"status":"ok","name":"stranger","snapshotName":"sx"},
        {"status":"failed","name":"c"}])"));
    std::map<std::string, std::string> sources = {{"a", ""}, {"b", ""}, {"c", "old"}};
    EXPECT_EQ(1u, utils().rest_createSnaps(sources));
    EXPECT_EQ(2u, srv.requestCount());
    EXPECT_EQ((std::map<std::string, std::string>{{"a", "sa"}, {"b", ""}, {"c", "old"}}), sources);
    EXPECT_EQ(1, ctx().errorCode);
    EXPECT_EQ(
        "Snapshot creation failed for : device-[b] status-[error] error-[no space], "
        "device-[c] status-[failed] error-[]",
        errorText());
}

TEST_F(RestTest, SnapshotListsAndCloneListsAppendEveryNameAndReportAMissingDisk) {
    srv.reply(200, okAnswer("ListSnapshots", R"([{"name":"s1","details":{}},{"details":"x"},{"name":"s3"}])"));
    std::vector<std::string> names = {"earlier"};
    ASSERT_EQ(0u, utils().rest_getSnapListForSource("vd1", names));
    EXPECT_EQ((std::vector<std::string>{"earlier", "s1", "", "s3"}), names);
    srv.reply(200, errorAnswer("ListSnapshots", "Vdisk vd1 couldn't be found"));
    EXPECT_EQ(21u, utils().rest_getSnapListForSource("vd1", names));
    EXPECT_EQ(21, ctx().errorCode);

    std::vector<std::string> clones;
    srv.reply(200, okAnswer("ListClonesForSnapshot", R"([{"name":"c1"},{"name":7}])"));
    ASSERT_EQ(0u, utils().rest_getCloneDetails("s1", clones));
    EXPECT_EQ((std::vector<std::string>{"c1", ""}), clones);
}

TEST_F(RestTest, DeleteRevertAndCloneCheckWhatTheClusterEchoes) {
    auto del = [&] { return utils().rest_deleteSnap("vd1", "sn1"); };
    auto revert = [&] { return utils().rest_revertSnap("vd1", "sn1"); };
    auto clone = [&] { return utils().rest_createCloneOfSnap("cl1", "sn1"); };
    const std::string invalid = "Invalid snapshot value entered";
    const std::string cloneFailed = "Failed to create clone-[cl1] from snapshot-[sn1]";
    expectAnswers({
        {del, R"({"status":"ok","type":"DeleteSnapshot","name":"sn1"})", 0, ""},
        {del, R"({"status":"ok","type":"DeleteSnapshot","result":{"name":"sn1"}})", 19,
         "The snapshot name-[] in response doesn't match the actual request value-[sn1]"},
        {del, R"({"status":"ok","type":"DeleteSnapshot","name":"sn2"})", 19,
         "The snapshot name-[sn2] in response doesn't match the actual request value-[sn1]"},
        {del, errorAnswer("DeleteSnapshot", invalid), 22,
         "The DeleteSnapshot request has failed. REST Error-[" + invalid + " ]"},
        {revert, R"({"status":"ok","type":"RevertToSnapshot","name":"sn1"})", 0, ""},
        {revert, R"({"status":"ok","type":"RevertToSnapshot","name":"sn0"})", 1,
         "Got snapshot name-[sn0] is the response - expecting-[sn1]"},
        {revert, errorAnswer("RevertToSnapshot", invalid), 19,
         "The RevertToSnapshot request has failed. REST Error-[" + invalid + " ]"},
        {clone, okAnswer("CloneSnapshot", R"([{"status":"ok","name":"cl1","baseDisk":"other"}])"), 0, ""},
        {clone, okAnswer("CloneSnapshot", "[]"), 0, ""},
        {clone, okAnswer("CloneSnapshot", R"([{"status":"ok"},{"status":"error","name":"cl1"},{"status":"x"}])"), 1,
         cloneFailed},
    });
}

}  // namespace
