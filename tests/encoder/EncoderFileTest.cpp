#include "encoder/EncoderFile.h"

#include "AudioProbe.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

TEST(EncoderFile, WritesSeeksAndSizesOnTheOpenFile) {
    TempDir dir;
    const std::string path = dir.file("a.bin");
    EncoderFile file;
    EXPECT_EQ(file.handle(), -1);
    EXPECT_EQ(file.write("abc", 3), 0); // no file: nothing tried
    EXPECT_EQ(file.size(), 0xFFFFFFFFu);
    EXPECT_EQ(file.tell(), 0xFFFFFFFFu);

    ASSERT_TRUE(file.open(path, EncoderFile::Creation::CreateAlways));
    EXPECT_NE(file.handle(), -1);
    EXPECT_EQ(file.path(), path);
    EXPECT_EQ(file.write("0123456789", 10), 10);
    EXPECT_EQ(file.write("x", 0), 0);
    EXPECT_EQ(file.size(), 10u);
    EXPECT_EQ(file.tell(), 10u);
    EXPECT_EQ(file.seek(2, EncoderFile::Origin::Begin), 2u);
    EXPECT_EQ(file.seek(3, EncoderFile::Origin::Current), 5u);
    EXPECT_EQ(file.write("AB", 2), 2);
    EXPECT_EQ(file.seek(-100, EncoderFile::Origin::Current), 0xFFFFFFFFu);
    file.close();
    EXPECT_EQ(file.handle(), -1);
    EXPECT_EQ(file.path(), "");
    const auto bytes = audioprobe::readFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "01234AB789");

    // Opening an existing file keeps it; creating truncates it.
    ASSERT_TRUE(file.open(path, EncoderFile::Creation::OpenExisting));
    EXPECT_EQ(file.size(), 10u);
    ASSERT_TRUE(file.open(path, EncoderFile::Creation::CreateAlways));
    EXPECT_EQ(file.size(), 0u);
    EXPECT_FALSE(file.open(dir.file("none.bin"), EncoderFile::Creation::OpenExisting));
    EXPECT_EQ(file.handle(), -1);
}

TEST(EncoderFile, WriteToAFullDeviceFails) {
    EncoderFile file;
    ASSERT_TRUE(file.open("/dev/full", EncoderFile::Creation::CreateAlways));
    EXPECT_EQ(file.write("abcd", 4), -1);
}

// RIFF sizes are 32-bit: the file stops one byte short of 4 GiB, a write that crosses
// that size is cut short there and the next one fails.
TEST(EncoderFile, NeverGrowsPastTheLargestRiffSize) {
    TempDir dir;
    const std::string path = dir.file("big.bin");
    { std::ofstream(path, std::ios::binary).put('x'); }
    std::filesystem::resize_file(path, 0xFFFFFFF0u); // sparse: takes no disk space
    EncoderFile file;
    ASSERT_TRUE(file.open(path, EncoderFile::Creation::OpenExisting));
    EXPECT_EQ(file.size(), 0xFFFFFFF0u);
    ASSERT_EQ(file.seek(0x7FFFFFFF, EncoderFile::Origin::Begin), 0x7FFFFFFFu);
    ASSERT_EQ(file.seek(0x7FFFFFF1, EncoderFile::Origin::Current), 0xFFFFFFF0u);
    const std::string block(32, 'y');
    EXPECT_EQ(file.write(block.data(), 32), 15);
    EXPECT_EQ(file.size(), 0xFFFFFFFFu);
    EXPECT_EQ(file.write(block.data(), 1), -1);
    file.close();
    EXPECT_EQ(std::filesystem::file_size(path), 0xFFFFFFFFu);
}
