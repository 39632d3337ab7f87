#include "encoder/EncoderFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
