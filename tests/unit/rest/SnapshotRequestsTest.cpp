// Snapshot and clone requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

const std::string kNoMoreData = "Io exception: No more data to read from socket";

TEST_F(RestTest, CreateSnapshotsIsSentAgainOnlyWhileTheClusterRunsOutOfData) {
    const std::string made = okAnswer("MakeSnapshot", R"([{"status":"ok","name":"vd1","snapshotName":"s1"}])");
    // Four refusals, then success: five identical requests.
    for (int i = 0; i < 4; ++i) srv.reply(200, errorAnswer("MakeSnapshot", kNoMoreData));
    srv.reply(200, made);
    std::map<std::string, std::string> sources = {{"vd1", ""}};
    EXPECT_EQ(0u, utils().rest_createSnaps(sources));
    EXPECT_EQ("s1", sources["vd1"]);
    auto requests = srv.requests();
    ASSERT_EQ(5u, requests.size());
    for (const auto& request : requests) {
        EXPECT_EQ("PUT", request.method);
        EXPECT_EQ(requests[0].request, request.request);
    }
    EXPECT_EQ(-1, ctx().errorCode);

    // Five refusals: the fifth one's error stands.
    srv.clearRequests();
    for (int i = 0; i < 5; ++i) srv.reply(200, errorAnswer("MakeSnapshot", kNoMoreData));
    EXPECT_EQ(19u, utils().rest_createSnaps(sources));
    EXPECT_EQ(5u, srv.requestCount());
    EXPECT_EQ(0u, srv.pendingReplies());
    EXPECT_EQ("The MakeSnapshot request has failed. REST Error-[" + kNoMoreData + " ]", errorText());

    // Any other refusal is final at once.
    srv.clearRequests();
    srv.reply(200, errorAnswer("MakeSnapshot", "quota exceeded"));
    EXPECT_EQ(19u, utils().rest_createSnaps(sources));
    EXPECT_EQ(1u, srv.requestCount());

    // A dropped exchange is not retried either.
    srv.clearRequests();
    srv.replyDrop();
    EXPECT_EQ(1u, utils().rest_createSnaps(sources));
    EXPECT_EQ(1u, srv.requestCount());
    EXPECT_EQ("Failed to create snapshot(s) of one or more source device(s) on the cluster", errorText());
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
    EXPECT_EQ("sa", sources["a"]);
    EXPECT_EQ("", sources["b"]);
    EXPECT_EQ("old", sources["c"]);
    EXPECT_EQ(3u, sources.size());
    EXPECT_EQ(1, ctx().errorCode);
    EXPECT_EQ("Snapshot creation failed for : device-[b] status-[error] error-[no space], "
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
    srv.reply(500, R"({"message":"Vdisk vd1 couldn't be found"})");
    EXPECT_EQ(1u, utils().rest_getSnapListForSource("vd1", names));
    EXPECT_EQ("Failed to get snapshot list for source device-[vd1]", errorText());

    std::vector<std::string> clones;
    srv.reply(200, okAnswer("ListClonesForSnapshot", R"([{"name":"c1"},{"name":7}])"));
    ASSERT_EQ(0u, utils().rest_getCloneDetails("s1", clones));
    EXPECT_EQ((std::vector<std::string>{"c1", ""}), clones);
}

TEST_F(RestTest, DeleteAndRevertCheckTheSnapshotNameTheClusterEchoes) {
    struct Row {
        bool revert;
        std::string answer;
        unsigned int code;
        std::string text;
    };
    const std::vector<Row> rows = {
        {false, R"({"status":"ok","type":"DeleteSnapshot","name":"sn1"})", 0, ""},
        {false, R"({"status":"ok","type":"DeleteSnapshot","result":{"name":"sn1"}})", 19,
         "The snapshot name-[] in response doesn't match the actual request value-[sn1]"},
        {false, R"({"status":"ok","type":"DeleteSnapshot","name":"sn2"})", 19,
         "The snapshot name-[sn2] in response doesn't match the actual request value-[sn1]"},
        {false, errorAnswer("DeleteSnapshot", "Invalid snapshot value entered"), 22,
         "The DeleteSnapshot request has failed. REST Error-[Invalid snapshot value entered ]"},
        {true, R"({"status":"ok","type":"RevertToSnapshot","name":"sn1"})", 0, ""},
        {true, R"({"status":"ok","type":"RevertToSnapshot","name":"sn0"})", 1,
         "Got snapshot name-[sn0] is the response - expecting-[sn1]"},
        {true, errorAnswer("RevertToSnapshot", "Invalid snapshot value entered"), 19,
         "The RevertToSnapshot request has failed. REST Error-[Invalid snapshot value entered ]"},
    };
    for (const Row& row : rows) {
        ctx().resetError();
        srv.reply(200, row.answer);
        unsigned int rc = row.revert ? utils().rest_revertSnap("vd1", "sn1") : utils().rest_deleteSnap("vd1", "sn1");
        EXPECT_EQ(row.code, rc) << row.answer;
        EXPECT_EQ(row.text, errorText()) << row.answer;
    }
    srv.replyDrop();
    EXPECT_EQ(1u, utils().rest_deleteSnap("vd1", "sn1"));
    EXPECT_EQ("Failed to delete snapshot-[sn1] for source device-[vd1]", errorText());
    srv.replyDrop();
    EXPECT_EQ(1u, utils().rest_revertSnap("vd1", "sn1"));
    EXPECT_EQ("Failed to revert source vDisk-[vd1] to snapshot-[sn1]", errorText());
}

TEST_F(RestTest, CloneCreationFailsOnTheFirstItemThatIsNotOk) {
    srv.reply(200, okAnswer("CloneSnapshot", R"([{"status":"ok","name":"cl1","baseDisk":"other"}])"));
    EXPECT_EQ(0u, utils().rest_createCloneOfSnap("cl1", "sn1"));
    EXPECT_EQ("PUT", srv.lastRequest().method);
    srv.reply(200, okAnswer("CloneSnapshot", "[]"));
    EXPECT_EQ(0u, utils().rest_createCloneOfSnap("cl1", "sn1"));
    srv.reply(200, okAnswer("CloneSnapshot", R"([{"status":"ok"},{"status":"error","name":"cl1"},{"status":"x"}])"));
    EXPECT_EQ(1u, utils().rest_createCloneOfSnap("cl1", "sn1"));
    EXPECT_EQ("Failed to create clone-[cl1] from snapshot-[sn1]", errorText());
    srv.reply(500, "");
    EXPECT_EQ(1u, utils().rest_createCloneOfSnap("cl1", "sn1"));
    EXPECT_EQ("Failed to create clone with name-[cl1] for snapshot-[sn1]", errorText());
}

}  // namespace
