#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

using platform::defaultAnswer;
using platform::MessageAnswer;
using platform::MessageBoxRequest;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::ScriptedMessageBoxes;
using platform::setMessageBoxHandler;
using platform::showMessageBox;

// Each test starts and ends with the default handler, whatever another test left behind.
class DialogsTest : public testing::Test {
protected:
    void SetUp() override { setMessageBoxHandler({}); }
    void TearDown() override { setMessageBoxHandler({}); }
};

// Guards against answering out of order or forgetting what was asked.
TEST_F(DialogsTest, ScriptAnswersInOrderAndRecordsEveryBox) {
    ScriptedMessageBoxes boxes;
    boxes.answerNext(MessageAnswer::No);
    boxes.answerNext(MessageAnswer::Cancel);
    EXPECT_EQ(showMessageBox("Save?", "Song", MessageButtons::YesNo, MessageIcon::Question, 7), MessageAnswer::No);
    EXPECT_EQ(showMessageBox("Retry?", "Disk", MessageButtons::RetryCancel, MessageIcon::Error),
              MessageAnswer::Cancel);
    // Once the script runs out, the first button.
    EXPECT_EQ(showMessageBox("Again?", "Disk", MessageButtons::AbortRetryIgnore, MessageIcon::Warning),
              MessageAnswer::Abort);

    ASSERT_EQ(boxes.shown().size(), 3u);
    const MessageBoxRequest& first = boxes.shown()[0];
    EXPECT_EQ(first.text, "Save?");
    EXPECT_EQ(first.title, "Song");
    EXPECT_EQ(first.buttons, MessageButtons::YesNo);
    EXPECT_EQ(first.icon, MessageIcon::Question);
    EXPECT_EQ(first.owner, 7u);
    EXPECT_EQ(boxes.shown()[2].buttons, MessageButtons::AbortRetryIgnore);
    EXPECT_FALSE(boxes.misuse());
}

// Guards against a script mistake (an answer the box cannot give) going unnoticed.
TEST_F(DialogsTest, AnswerOutsideTheButtonsIsReturnedAndFlagged) {
    ScriptedMessageBoxes boxes;
    boxes.answerNext(MessageAnswer::Retry);
    EXPECT_EQ(showMessageBox("Save?", "Song", MessageButtons::YesNo, MessageIcon::Question), MessageAnswer::Retry);
    EXPECT_TRUE(boxes.misuse());
}

// Guards against a script that outlives its scope or clobbers the host's handler.
TEST_F(DialogsTest, ScriptRestoresThePreviousHandler) {
    int hostBoxes = 0;
    setMessageBoxHandler([&hostBoxes](const MessageBoxRequest&) {
        ++hostBoxes;
        return MessageAnswer::Ignore;
    });
    {
        ScriptedMessageBoxes outer;
        {
            ScriptedMessageBoxes inner;
            inner.answerNext(MessageAnswer::No);
            EXPECT_EQ(showMessageBox("a", "t", MessageButtons::YesNo, MessageIcon::None), MessageAnswer::No);
            EXPECT_EQ(inner.shown().size(), 1u);
        }
        outer.answerNext(MessageAnswer::Cancel);
        EXPECT_EQ(showMessageBox("b", "t", MessageButtons::OkCancel, MessageIcon::None), MessageAnswer::Cancel);
        EXPECT_EQ(outer.shown().size(), 1u);
    }
    EXPECT_EQ(showMessageBox("c", "t", MessageButtons::AbortRetryIgnore, MessageIcon::None), MessageAnswer::Ignore);
    EXPECT_EQ(hostBoxes, 1);
    EXPECT_TRUE(static_cast<bool>(setMessageBoxHandler({})));  // the host's handler was still installed
}

// Guards against a box nobody answers getting a button the box does not have.
TEST_F(DialogsTest, DefaultHandlerWritesToStderrAndAnswersTheFirstButton) {
    const std::vector<std::pair<MessageButtons, MessageAnswer>> firstButtons = {
        {MessageButtons::Ok, MessageAnswer::Ok},
        {MessageButtons::OkCancel, MessageAnswer::Ok},
        {MessageButtons::YesNo, MessageAnswer::Yes},
        {MessageButtons::YesNoCancel, MessageAnswer::Yes},
        {MessageButtons::RetryCancel, MessageAnswer::Retry},
        {MessageButtons::AbortRetryIgnore, MessageAnswer::Abort},
    };
    for (const auto& [buttons, answer] : firstButtons) {
        EXPECT_EQ(defaultAnswer(buttons), answer);
        testing::internal::CaptureStderr();
        EXPECT_EQ(showMessageBox("Cannot open the song", "Player", buttons, MessageIcon::Error), answer);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Player: Cannot open the song\n");
    }
}

// Guards against a throwing host handler escaping into library code.
TEST_F(DialogsTest, ThrowingHandlerGivesTheFirstButton) {
    setMessageBoxHandler([](const MessageBoxRequest&) -> MessageAnswer { throw std::runtime_error("no display"); });
    EXPECT_EQ(showMessageBox("x", "y", MessageButtons::RetryCancel, MessageIcon::None), MessageAnswer::Retry);
}

// Guards against a data race when worker threads show boxes (run under ThreadSanitizer).
TEST_F(DialogsTest, BoxesFromSeveralThreadsAreAllRecorded) {
    ScriptedMessageBoxes boxes;
    constexpr int kThreads = 4;
    constexpr int kBoxesEach = 50;
    for (int i = 0; i < kThreads * kBoxesEach; ++i) {
        boxes.answerNext(MessageAnswer::No);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kBoxesEach; ++i) {
                EXPECT_EQ(showMessageBox("q", "t", MessageButtons::YesNo, MessageIcon::None), MessageAnswer::No);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(boxes.shown().size(), static_cast<std::size_t>(kThreads * kBoxesEach));
}

}  // namespace
