// The brief connection: a camera that answers the status query is connected, and the identity
// and the parameters are read only on request (kelvra-ctl's tests show the identity's reads),
// each parameter as the connection sequence reads it.
#include "engine/settings.h"
#include "tests/engine/engine_fixture.h"

namespace enginetest {
namespace {

TEST_F(EngineTest, ABriefConnectionReadsOnlyWhatIsRequestedAndKeepsTheMarks) {
    brief = true;
    camera.SetParameter(43, 2);
    StartEngine();
    ASSERT_TRUE(WaitUntil([] { return CameraConnected(); }, kConnectDeadline));
    EXPECT_EQ(HexFrames(Frames()), HexFrames({Frame(CMD_SYSTEM_STATUS_GET)}));
    uint16_t value = 0;
    EXPECT_FALSE(ReadCameraValue(43, &value)) << "nothing read is nothing known";

    // A mark made before the read survives it; an unmarked entry follows the camera.
    ASSERT_EQ(SetPendingParameter(16, 60), 0);
    Notice outcome{};
    const int indexes[] = {16, 43, 300};
    EXPECT_EQ(HexFrames(FramesOf(MakeReadRequest(indexes), &outcome)),
              HexFrames({GetParam(16), GetParam(43)}));
    EXPECT_EQ((std::vector<int>{outcome.result, outcome.count, outcome.index}), (std::vector<int>{0, 2, -1}));
    EXPECT_EQ((std::vector<int>{ReadCameraValue(43, &value), value, PendingValue(43), Marked(43),
                                CameraValue(16), PendingValue(16), Marked(16)}),
              (std::vector<int>{true, 2, 2, 0, 30, 60, 1}));

    // A read that never brings one value is given up: unknown, named by the outcome, no failure.
    camera.SpoilReplies(CMD_GET_NON_VOLATILE_PARAMETERS, 44, RSP_VALUE, sim::SimulatedCamera::Spoil::Lose,
                        -1);
    const int unknown[] = {44};
    EXPECT_EQ(FramesOf(MakeReadRequest(unknown), &outcome).size(), static_cast<size_t>(kReadAttempts));
    EXPECT_EQ((std::vector<int>{outcome.result, outcome.count, outcome.index, ReadCameraValue(44, &value)}),
              (std::vector<int>{0, 0, 44, false}));

    EXPECT_EQ(HexFrames(FramesOf(MakeRequest(REQ_SAVE_PARAMETERS))),
              HexFrames({SetParam(16, 60), GetParam(16), Cmd(CMD_SET_NON_VOLATILE_PARAMETERS, 0x00FF)}));
}

}  // namespace
}  // namespace enginetest
