// The simulator's iSCSI target below the sockets: PDU framing, login negotiation and refusals,
// the write (R2T) and read (Data-In) sequences, the command window, and the SCSI answers
// libiscsi's compliance subset does not pin down.
#include <gtest/gtest.h>

#include <cstring>

#include "IscsiConnection.h"

using namespace korvansim::iscsi;

namespace {

constexpr char kTarget[] = "iqn.2020-01.com.korvan:sp1:vol1";
constexpr char kAllowed[] = "iqn.test:allowed";

class MemoryUnit : public LogicalUnit {
public:
    explicit MemoryUnit(uint32_t blockSize, uint64_t blocks) : blockSize_(blockSize), bytes(blockSize * blocks, '\0') {}
    uint32_t blockSize() const override { return blockSize_; }
    uint64_t blocks() const override { return bytes.size() / blockSize_; }
    bool read(uint64_t offset, void* buffer, size_t length) override {
        return std::memcpy(buffer, bytes.data() + offset, length), true;
    }
    bool write(uint64_t offset, const void* buffer, size_t length) override {
        return std::memcpy(bytes.data() + offset, buffer, length), true;
    }
    std::string inquiry(bool evpd, uint8_t page) const override {
        return evpd && page != 0x80 ? ""
                                    : std::string(evpd ? "\0\x80\0\x02"
                                                         "42"
                                                       : "standard",
                                                  evpd ? 6 : 8);
    }

    uint32_t blockSize_;
    std::string bytes;
};

class Directory : public TargetDirectory {
public:
    std::vector<std::string> targets(const std::string& portal) override {
        return portal == "sp1" ? std::vector<std::string>{kTarget, "iqn.2020-01.com.korvan:sp1:vol2"}
                               : std::vector<std::string>{};
    }
    Admission admit(const std::string& portal, const std::string& initiator, const std::string& target) override {
        if (portal != "sp1" || target != kTarget) return {login::kNotFound, nullptr};
        if (initiator != kAllowed) return {login::kAuthorizationFailure, nullptr};
        return {login::kSuccess, unit};
    }
    std::shared_ptr<MemoryUnit> unit = std::make_shared<MemoryUnit>(512, 64);
};

// An initiator's end of one connection: builds PDUs, feeds them, reads the answers.
struct Initiator {
    Directory directory;
    Connection connection{directory, "sp1", "127.0.0.1:3260", 7};
    bool open = true;
    uint32_t cmdSn = 10;

    std::vector<Pdu> send(const Pdu& pdu) {
        std::string out;
        std::string wire = pdu.encode();
        open = connection.receive(wire.data(), wire.size(), out);
        PduReader reader(1u << 24);
        reader.feed(out.data(), out.size());
        std::vector<Pdu> answers;
        for (Pdu p; reader.next(p);) answers.push_back(p);
        return answers;
    }
    Pdu loginPdu(int stage, int next, const TextPairs& keys) {
        Pdu p;
        p.setOpcode(0x40 | op::kLoginRequest);
        p.setByte(1, static_cast<uint8_t>(0x80 | stage << 2 | next));
        p.set32(at::kTaskTag, 1);
        p.set32(at::kCmdSn, cmdSn);
        p.data = encodeText(keys);
        return p;
    }
    uint16_t loginStatus(const Pdu& answer) { return answer.get16(at::kDataSn); }
    TextPairs keys(const Pdu& answer) {
        TextPairs out;
        EXPECT_TRUE(parseText(answer.data, out));
        return out;
    }
    // A normal session with the given operational keys, logged in.
    TextPairs login(const TextPairs& operational) {
        auto first =
            send(loginPdu(0, 1, {{"InitiatorName", kAllowed}, {"TargetName", kTarget}, {"AuthMethod", "None"}}));
        EXPECT_EQ(first.size(), 1u);
        auto second = send(loginPdu(1, 3, operational));
        EXPECT_TRUE(connection.loggedIn());
        return second.empty() ? TextPairs{} : keys(second[0]);
    }
    Pdu command(const std::vector<uint8_t>& cdb, uint32_t expected, bool read, bool write,
                const std::string& data = "") {
        Pdu p;
        p.setOpcode(op::kScsiCommand);
        p.setByte(1, static_cast<uint8_t>(0x80 | (read ? 0x40 : 0) | (write ? 0x20 : 0)));
        p.set32(at::kTaskTag, 0x100 + cmdSn);
        p.set32(at::kExpectedLength, expected);
        p.set32(at::kCmdSn, cmdSn++);
        std::copy(cdb.begin(), cdb.end(), p.bhs.begin() + at::kCdb);
        p.data = data;
        return p;
    }
};

std::string value(const TextPairs& pairs, const std::string& key) {
    for (const auto& [k, v] : pairs)
        if (k == key) return v;
    return "(absent)";
}

TEST(IscsiPdu, FramingPadsAndRestoresEverySegmentWhateverTheChunksAndRefusesOversizedData) {
    Pdu p;
    p.setOpcode(op::kScsiCommand);
    p.set64(at::kLun, 0x0102030405060708ull);
    p.ahs = std::string("\x01\x02\x03", 3);
    p.data = "hello";
    const std::string wire = p.encode();
    ASSERT_EQ(wire.size(), 48u + 4 + 8);
    EXPECT_EQ(wire[4], 1) << "AHS length in words";
    EXPECT_EQ(wire.substr(5, 3), std::string("\0\0\x05", 3)) << "data length without padding";
    PduReader reader(64);
    Pdu back;
    for (size_t i = 0; i < wire.size(); ++i) {
        EXPECT_FALSE(reader.next(back)) << "not whole at byte " << i;
        reader.feed(wire.data() + i, 1);
    }
    ASSERT_TRUE(reader.next(back));
    EXPECT_EQ(back.get64(at::kLun), 0x0102030405060708ull);
    EXPECT_EQ(back.ahs, p.ahs + std::string(1, '\0'));
    EXPECT_EQ(back.data, "hello");

    PduReader strict(4);
    strict.feed(wire.data(), wire.size());
    EXPECT_FALSE(strict.next(back));
    EXPECT_NE(strict.error(), "");

    TextPairs pairs;
    EXPECT_TRUE(parseText(std::string("A=1\0B=\0\0C=x=y\0", 14), pairs));
    EXPECT_EQ(pairs, (TextPairs{{"A", "1"}, {"B", ""}, {"C", "x=y"}}));
    for (const std::string& bad : {std::string("novalue"), std::string("=v\0", 3), std::string("A=1\0B", 5)})
        EXPECT_FALSE(parseText(bad, pairs)) << bad;
}

TEST(IscsiLogin, NegotiationAnswersEachKeyByItsRuleAndTheTsihComesWithTheFinalResponse) {
    Initiator i;
    auto security =
        i.send(i.loginPdu(0, 1, {{"InitiatorName", kAllowed}, {"TargetName", kTarget}, {"AuthMethod", "CHAP,None"}}));
    ASSERT_EQ(security.size(), 1u);
    EXPECT_EQ(security[0].opcode(), op::kLoginResponse);
    EXPECT_EQ(security[0].flags(), 0x81) << "transit from security to operational";
    EXPECT_EQ(value(i.keys(security[0]), "AuthMethod"), "None");
    EXPECT_EQ(value(i.keys(security[0]), "TargetPortalGroupTag"), "1");
    EXPECT_EQ(security[0].get16(at::kTsih), 0);
    auto op = i.send(i.loginPdu(1, 3,
                                {{"HeaderDigest", "CRC32C,None"},
                                 {"MaxBurstLength", "16777215"},
                                 {"FirstBurstLength", "4096"},
                                 {"ImmediateData", "No"},
                                 {"MaxRecvDataSegmentLength", "1024"},
                                 {"InitialR2T", "No"},
                                 {"MaxOutstandingR2T", "8"},
                                 {"X-vendor", "1"}}));
    ASSERT_EQ(op.size(), 1u);
    const TextPairs answer = i.keys(op[0]);
    const std::pair<const char*, const char*> expected[] = {{"HeaderDigest", "None"},
                                                            {"MaxBurstLength", "1048576"},
                                                            {"FirstBurstLength", "4096"},
                                                            {"ImmediateData", "No"},
                                                            {"InitialR2T", "Yes"},
                                                            {"MaxOutstandingR2T", "1"},
                                                            {"MaxRecvDataSegmentLength", "262144"},
                                                            {"X-vendor", "NotUnderstood"}};
    for (const auto& [key, v] : expected) EXPECT_EQ(value(answer, key), v) << key;
    EXPECT_EQ(op[0].flags(), 0x87) << "transit from operational to full feature";
    EXPECT_EQ(op[0].get16(at::kTsih), 7);
    EXPECT_EQ(op[0].get32(at::kExpStatSn), 10u) << "ExpCmdSN: the login's CmdSN";
    EXPECT_EQ(security[0].get32(at::kCmdSn) + 1, op[0].get32(at::kCmdSn)) << "StatSN advances";
    EXPECT_TRUE(i.connection.loggedIn());
}

TEST(IscsiLogin, RefusalsCarryTheStatusATargetGivesAndEndTheConnection) {
    struct Case {
        TextPairs keys;
        uint16_t status;
    };
    const Case cases[] = {
        {{{"InitiatorName", "iqn.test:other"}, {"TargetName", kTarget}}, login::kAuthorizationFailure},
        {{{"InitiatorName", kAllowed}, {"TargetName", "iqn.2020-01.com.korvan:sp1:nope"}}, login::kNotFound},
        {{{"TargetName", kTarget}}, login::kMissingParameter},
        {{{"InitiatorName", kAllowed}}, login::kMissingParameter},
        {{{"InitiatorName", kAllowed}, {"SessionType", "Other"}}, login::kSessionTypeNotSupported},
        {{{"InitiatorName", kAllowed}, {"TargetName", kTarget}, {"AuthMethod", "CHAP"}}, login::kAuthenticationFailure},
        {{{"InitiatorName", kAllowed}, {"TargetName", kTarget}, {"HeaderDigest", "CRC32C"}}, login::kInitiatorError},
    };
    for (const Case& c : cases) {
        Initiator i;
        auto answer = i.send(i.loginPdu(0, 3, c.keys));
        ASSERT_EQ(answer.size(), 1u) << encodeText(c.keys);
        EXPECT_EQ(i.loginStatus(answer[0]), c.status) << encodeText(c.keys);
        EXPECT_FALSE(i.open);
        EXPECT_FALSE(i.connection.loggedIn());
    }
    Initiator early;
    early.send(early.command({0x00}, 0, false, false));
    EXPECT_FALSE(early.open) << "a command before login ends the connection";
}

TEST(IscsiSession, DiscoveryListsThePortalsTargetsAtTheAddressReachedAndTakesNoCommands) {
    Initiator i;
    i.send(i.loginPdu(0, 3, {{"InitiatorName", "anyone"}, {"SessionType", "Discovery"}}));
    ASSERT_TRUE(i.connection.loggedIn()) << "discovery needs no access entry";
    Pdu text;
    text.setOpcode(0x40 | op::kTextRequest);
    text.setByte(1, 0x80);
    text.set32(at::kTaskTag, 5);
    text.set32(at::kTransferTag, kReservedTag);
    text.data = encodeText({{"SendTargets", "All"}});
    auto answer = i.send(text);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(i.keys(answer[0]), (TextPairs{{"TargetName", kTarget},
                                            {"TargetAddress", "127.0.0.1:3260,1"},
                                            {"TargetName", "iqn.2020-01.com.korvan:sp1:vol2"},
                                            {"TargetAddress", "127.0.0.1:3260,1"}}));
    answer = i.send(i.command({0x00}, 0, false, false));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].opcode(), op::kReject);
}

TEST(IscsiSession, AWriteTakesImmediateDataThenOneBurstPerR2tAndAReadComesBackInSegments) {
    Initiator i;
    i.login({{"MaxBurstLength", "8192"}, {"FirstBurstLength", "4096"}, {"MaxRecvDataSegmentLength", "2048"}});
    std::string pattern;
    for (int n = 0; n < 20 * 512; ++n) pattern += static_cast<char>(n * 7);
    // WRITE 10 of 20 blocks at LBA 3: 2048 immediate bytes, then R2Ts of at most 8192.
    auto r2t = i.send(i.command({0x2a, 0, 0, 0, 0, 3, 0, 0, 20}, 10240, false, true, pattern.substr(0, 2048)));
    ASSERT_EQ(r2t.size(), 1u);
    EXPECT_EQ(r2t[0].opcode(), op::kR2t);
    EXPECT_EQ(r2t[0].get32(at::kBufferOffset), 2048u);
    EXPECT_EQ(r2t[0].get32(at::kResidual), 8192u) << "desired length";
    const uint32_t itt = r2t[0].taskTag(), ttt = r2t[0].get32(at::kTransferTag);
    auto dataOut = [&](uint32_t offset, uint32_t length, uint32_t dataSn) {
        Pdu d;
        d.setOpcode(op::kDataOut);
        d.setByte(1, offset + length == 10240 ? 0x80 : 0);
        d.set32(at::kTaskTag, itt);
        d.set32(at::kTransferTag, ttt);
        d.set32(at::kDataSn, dataSn);
        d.set32(at::kBufferOffset, offset);
        d.data = pattern.substr(offset, length);
        return i.send(d);
    };
    uint32_t sn = 0;
    EXPECT_TRUE(dataOut(2048, 2048, sn++).empty());
    auto between = i.send(i.command({0x00}, 0, false, false));
    ASSERT_EQ(between.size(), 1u) << "other commands go on while a write waits for its data";
    for (uint32_t offset = 4096; offset < 8192; offset += 2048) EXPECT_TRUE(dataOut(offset, 2048, sn++).empty());
    auto status = dataOut(8192, 2048, sn++);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].opcode(), op::kScsiResponse);
    EXPECT_EQ(status[0].taskTag(), itt);
    EXPECT_EQ(status[0].byte(3), 0) << "GOOD";
    EXPECT_EQ(i.directory.unit->bytes.substr(3 * 512, 10240), pattern.substr(0, 10240));

    auto read = i.send(i.command({0x28, 0, 0, 0, 0, 3, 0, 0, 20}, 12000, true, false));
    ASSERT_EQ(read.size(), 5u) << "10240 bytes in 2048-byte segments";
    std::string got;
    for (size_t n = 0; n < read.size(); ++n) {
        EXPECT_EQ(read[n].opcode(), op::kDataIn);
        EXPECT_EQ(read[n].get32(at::kDataSn), n);
        EXPECT_EQ(read[n].get32(at::kBufferOffset), got.size());
        got += read[n].data;
    }
    EXPECT_EQ(got, pattern.substr(0, 10240));
    EXPECT_EQ(read[3].flags(), 0x80) << "a sequence ends at MaxBurstLength";
    EXPECT_EQ(read[4].flags(), 0x80 | 0x02 | 0x01) << "final, underflow, status";
    EXPECT_EQ(read[4].get32(at::kResidual), 12000u - 10240u);
    EXPECT_EQ(read[4].byte(3), 0) << "GOOD";

    // A Data-Out out of sequence ends the session (no error recovery here).
    auto again = i.send(i.command({0x2a, 0, 0, 0, 0, 0, 0, 0, 8}, 4096, false, true));
    ASSERT_EQ(again.size(), 1u);
    Pdu wrong;
    wrong.setOpcode(op::kDataOut);
    wrong.set32(at::kTaskTag, again[0].taskTag());
    wrong.set32(at::kTransferTag, again[0].get32(at::kTransferTag));
    wrong.set32(at::kDataSn, 3);
    wrong.data = std::string(512, 'x');
    i.send(wrong);
    EXPECT_FALSE(i.open);
}

TEST(IscsiSession, CommandsOutsideTheWindowAreDroppedAndNopAndLogoutAreAnswered) {
    Initiator i;
    i.login({});
    i.cmdSn = 5;  // below the window
    EXPECT_TRUE(i.send(i.command({0x00}, 0, false, false)).empty());
    i.cmdSn = 10 + offer::kCommandWindow;  // beyond it
    EXPECT_TRUE(i.send(i.command({0x00}, 0, false, false)).empty());
    i.cmdSn = 10;
    auto tur = i.send(i.command({0x00}, 0, false, false));
    ASSERT_EQ(tur.size(), 1u);
    EXPECT_EQ(tur[0].get32(at::kExpStatSn), 11u) << "ExpCmdSN advanced";
    EXPECT_EQ(tur[0].get32(at::kMaxCmdSn), 10u + offer::kCommandWindow);

    Pdu nop;
    nop.setOpcode(0x40 | op::kNopOut);
    nop.setByte(1, 0x80);
    nop.set32(at::kTaskTag, 77);
    nop.data = "ping";
    auto pong = i.send(nop);
    ASSERT_EQ(pong.size(), 1u);
    EXPECT_EQ(pong[0].opcode(), op::kNopIn);
    EXPECT_EQ(pong[0].data, "ping");
    nop.set32(at::kTaskTag, kReservedTag);
    EXPECT_TRUE(i.send(nop).empty()) << "an answer to a ping of ours gets none";

    Pdu logout;
    logout.setOpcode(0x40 | op::kLogoutRequest);
    logout.setByte(1, 0x80);
    auto bye = i.send(logout);
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(bye[0].opcode(), op::kLogoutResponse);
    EXPECT_FALSE(i.open);
}

TEST(IscsiScsi, EachCommandAnswersItsDataOrItsSense) {
    MemoryUnit unit(4096, 300);
    struct Case {
        const char* what;
        std::vector<uint8_t> cdb;
        bool lun0;
        uint8_t senseKey;  // 0: GOOD
        uint8_t asc;
        std::string data;  // expected data-in (checked when not empty)
    };
    const std::string capacity10("\0\0\x01\x2b\0\0\x10\0", 8);
    const Case cases[] = {
        {"unknown opcode", {0xa8}, true, 0x05, 0x20, ""},
        {"READ past the end", {0x28, 0, 0, 0, 0x01, 0x2b, 0, 0, 2}, true, 0x05, 0x21, ""},
        {"READ with protection", {0x28, 0x20, 0, 0, 0, 0, 0, 0, 1}, true, 0x05, 0x24, ""},
        {"READ over the transfer limit", {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x01}, true, 0x05, 0x24, ""},
        {"INQUIRY of a missing page", {0x12, 1, 0x83, 0, 255}, true, 0x05, 0x24, ""},
        {"INQUIRY page cut to its allocation",
         {0x12, 1, 0x80, 0, 5},
         true,
         0,
         0,
         std::string("\0\x80\0\x02"
                     "4",
                     5)},
        {"MODE SENSE of saved values", {0x1a, 0, 0xc8, 0, 255}, true, 0x05, 0x39, ""},
        {"MODE SENSE of a page not here", {0x1a, 0, 0x01, 0, 255}, true, 0x05, 0x24, ""},
        {"READ CAPACITY 10", {0x25}, true, 0, 0, capacity10},
        {"REPORT LUNS",
         {0xa0, 0, 0, 0, 0, 0, 0, 0, 0, 16},
         false,
         0,
         0,
         std::string("\0\0\0\x08", 4) + std::string(12, '\0')},
        {"TEST UNIT READY of a missing LUN", {0x00}, false, 0x05, 0x25, ""},
        {"INQUIRY of a missing LUN", {0x12, 0, 0, 0, 1}, false, 0, 0, "\x7f"},
    };
    for (const Case& c : cases) {
        uint8_t cdb[16] = {};
        std::copy(c.cdb.begin(), c.cdb.end(), cdb);
        ScsiOutcome o = execute(c.lun0 ? &unit : nullptr, cdb, "");
        EXPECT_EQ(o.status, c.senseKey ? scsi::kCheckCondition : scsi::kGood) << c.what;
        if (c.senseKey) {
            ASSERT_EQ(o.sense.size(), 18u) << c.what;
            EXPECT_EQ(o.sense[2], c.senseKey) << c.what;
            EXPECT_EQ(static_cast<uint8_t>(o.sense[12]), c.asc) << c.what;
        }
        if (!c.data.empty()) {
            EXPECT_EQ(o.dataIn, c.data) << c.what;
        }
    }
    uint8_t rc16[16] = {0x9e, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32};
    EXPECT_EQ(execute(&unit, rc16, "").dataIn.substr(0, 12), std::string("\0\0\0\0\0\0\x01\x2b\0\0\x10\0", 12));
    uint8_t modeSense10[16] = {0x5a, 0x10, 0x3f, 0, 0, 0, 0, 0x01, 0};
    const std::string all = execute(&unit, modeSense10, "").dataIn;
    ASSERT_GE(all.size(), 24u + 44);
    EXPECT_EQ(all[4], 1) << "long LBA descriptor";
    EXPECT_EQ(all.substr(6, 2), std::string("\0\x10", 2)) << "its length";
    EXPECT_EQ(static_cast<uint8_t>(all[1]) + 2u, all.size()) << "mode data length";
    EXPECT_EQ(all[24], 0x08) << "caching page first";
}

}  // namespace
