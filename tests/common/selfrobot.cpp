#include "selfrobot.h"

#include <gtest/gtest.h>

std::vector<DialogRecord> BoxesDuring(const std::function<void()> &call, std::vector<RobotAnswer> answers)
{
    DialogRobot robot(GetCurrentProcessId(), std::move(answers));
    robot.Start();
    call();
    robot.Stop();
    return robot.MessageBoxes();
}

void ExpectOkBox(const DialogRecord &box, const std::string &text, RobotIcon icon)
{
    EXPECT_TRUE(box.isMessageBox);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0].id, IDOK);
}
