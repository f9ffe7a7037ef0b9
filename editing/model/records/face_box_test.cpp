#include "editing/model/records/face_box.h"

#include <gtest/gtest.h>

TEST(FaceBoxFromEyes, SquareBelowTheEyesTurnedWithTheEyeLine)
{
    struct Case {
        const char* name;
        int eye1X, eye1Y, eye2X, eye2Y;
        int x, y, side, roll;
    } const cases[] = {
        // 100 apart, level: 220 wide, centre (150, 150).
        {"level", 100, 100, 200, 100, 40, 40, 220, 0},
        // The second eye 100 right and 100 up: roll -45, side 2.2 x 141.42 = 311, centre
        // (100, 100): half an eye distance from the midpoint (50, 50), perpendicular to the line.
        {"tilted", 0, 100, 100, 0, -55, -55, 311, -45},
        // The second eye left of the first: the face is upside down, its box above the eyes.
        {"upside down", 200, 100, 100, 100, 40, -60, 220, -180},
        {"coinciding eyes", 50, 60, 50, 60, 50, 60, 0, 0},
    };
    for (const Case& c : cases) {
        VXL_FACE face{};
        face.eye1X = c.eye1X;
        face.eye1Y = c.eye1Y;
        face.eye2X = c.eye2X;
        face.eye2Y = c.eye2Y;
        faceBoxFromEyes(&face);
        EXPECT_EQ(face.x, c.x) << c.name;
        EXPECT_EQ(face.y, c.y) << c.name;
        EXPECT_EQ(face.width, c.side) << c.name;
        EXPECT_EQ(face.height, c.side) << c.name;
        EXPECT_EQ(face.roll, c.roll) << c.name;
    }
}
