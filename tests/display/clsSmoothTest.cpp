#include "display/clsSmooth.h"

#include <gtest/gtest.h>

TEST(clsSmooth, AveragesWhatWasAddedWhileFillingThenTheLastValues) {
    clsSmooth s;
    s.SmoothNew(3);
    EXPECT_EQ(s.SmoothGetMax(), 0.0f) << "nothing added yet";
    const float adds[] = {10.0f, 20.0f, 30.0f, 40.0f};
    const float means[] = {10.0f, 15.0f, 20.0f, 30.0f};
    for (int i = 0; i < 4; ++i) {
        s.SmoothAdd(adds[i]);
        EXPECT_EQ(s.SmoothGetMax(), means[i]) << "after " << adds[i];
        EXPECT_EQ(s.SmoothGetMax(), means[i]) << "reading changes nothing";
    }
    s.SmoothAdd(-100.0f);
    EXPECT_FLOAT_EQ(s.SmoothGetMax(), (30.0f + 40.0f - 100.0f) / 3.0f);

    s.SmoothNew(2);
    s.SmoothAdd(7.0f);
    EXPECT_EQ(s.SmoothGetMax(), 7.0f) << "a new history forgets the old one";
}

TEST(clsSmooth, SizeOneFollowsTheLastValue) {
    clsSmooth s;
    s.SmoothNew(1);
    for (float v : {3.0f, -2.5f, 1000.0f}) {
        s.SmoothAdd(v);
        EXPECT_EQ(s.SmoothGetMax(), v);
    }
}

TEST(clsSmooth, SumsInSinglePrecisionInSlotOrder) {
    clsSmooth s;
    s.SmoothNew(3);
    s.SmoothAdd(16777216.0f);
    s.SmoothAdd(1.0f);
    s.SmoothAdd(1.0f);
    // 2^24 + 1 is not a single: each addition of 1 is lost.
    EXPECT_EQ(s.SmoothGetMax(), 16777216.0f / 3.0f);
}
