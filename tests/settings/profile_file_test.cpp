#include "settings/profile_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

std::string ReadBytes(const std::filesystem::path& p) {
    std::string out;
    ReadWholeFile(p, out, 1 << 30);
    return out;
}

void WriteBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

TEST(ProfileText, ReadsAFileWrittenOnWindows) {
    const std::string content = "[Other]\r\nx=1\r\n\r\n[" + G("设置") + "]\r\n" + G("设置_监测间隔") +
                                "=250\r\n" + G("设置_提示音") + " =  1 \r\n[Tail]\r\n" + G("设置_提示音") +
                                "=9\r\n";
    EXPECT_EQ(ProfileRead(content, G("设置"), G("设置_监测间隔")), "250");
    EXPECT_EQ(ProfileRead(content, G("设置"), G("设置_提示音")), "1");
    EXPECT_EQ(ProfileRead(content, "OTHER", "X"), "1");  // ASCII letters without case
    EXPECT_EQ(ProfileRead(content, G("设置"), "x"), "");
    EXPECT_EQ(ProfileRead(content, "Missing", "x"), "");
    EXPECT_EQ(ProfileRead("[s]\nk=\"quoted value\"\n", "s", "k"), "quoted value");
    EXPECT_EQ(ProfileRead("[s]\rk=cr only", "s", "k"), "cr only");
    EXPECT_EQ(ProfileRead("[s]\nk=1\nk=2\n", "s", "k"), "1");  // the first one counts
}

TEST(ProfileText, WritesInPlaceAndKeepsEverythingElse) {
    const std::string original = "; comment\r\n[A]\r\nk=1\r\n\r\n[B]\r\nz=0\r\n";
    EXPECT_EQ(ProfileWrite(original, "a", "K", "2"), "; comment\r\n[A]\r\nK=2\r\n\r\n[B]\r\nz=0\r\n");
    EXPECT_EQ(ProfileWrite(original, "A", "n", "5"), "; comment\r\n[A]\r\nk=1\r\nn=5\r\n\r\n[B]\r\nz=0\r\n");
    EXPECT_EQ(ProfileWrite(original, "C", "n", "5"), original + "[C]\r\nn=5\r\n");
    EXPECT_EQ(ProfileWrite("", "S", "k", "v"), "[S]\r\nk=v\r\n");
    EXPECT_EQ(ProfileWrite("[S]", "S", "k", "v"), "[S]\r\nk=v\r\n");
    EXPECT_EQ(ProfileWrite("x=1", "S", "k", "v"), "x=1\r\n[S]\r\nk=v\r\n");
    EXPECT_EQ(ProfileWrite("[S]\nk=1\n", "S", "k", "2"), "[S]\nk=2\n");  // LF files stay LF
}

// Pasted into a number box, this once added a section that sent every alert to another address.
TEST(ProfileText, AWriteIsOneLineWhateverItIsGiven) {
    const std::string pasted = "100\r\n[" + G("提醒") + "]\n" + G("机器人类型") + "=webhook\r" +
                               G("机器人地址") + std::string("=http://evil\0x", 14);
    const std::string written = ProfileWrite("[S]\r\nk=1\r\n", "S", "k", pasted);
    EXPECT_EQ(ProfileRead(written, G("提醒"), G("机器人类型")), "");
    EXPECT_EQ(ProfileRead(written, G("提醒"), G("机器人地址")), "");
    EXPECT_EQ(written.find('\0'), std::string::npos);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
    EXPECT_EQ(ProfileWrite("", "S\r\n[T]", "k\n=x", "v"), "[S[T]]\r\nk=x=v\r\n");
}

TEST(ProfileFile, FirstWriteCreatesTheFileAndGarbageIsNeverLost) {
    testing::TempDir dir;
    ProfileFile file(dir / "Config.ini");
    EXPECT_EQ(file.Read("S", "k"), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));
    EXPECT_TRUE(file.Write("S", "k", "v"));
    EXPECT_EQ(ReadBytes(dir / "Config.ini"), "[S]\r\nk=v\r\n");

    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131) & 0xFF);
    WriteBytes(dir / "Config.ini", garbage);
    EXPECT_EQ(file.Read("S", "k"), "");
    EXPECT_TRUE(file.Write("S", "k", "v"));
    EXPECT_EQ(ReadBytes(dir / "Config.ini").substr(0, garbage.size()), garbage);
    EXPECT_EQ(file.Read("S", "k"), "v");

    const std::string huge(ProfileFile::kMaxBytes + 1, '[');
    WriteBytes(dir / "Config.ini", huge);
    EXPECT_EQ(file.Read("S", "k"), "");
    EXPECT_FALSE(file.Write("S", "k", "v"));  // not ours: left exactly as it was
    EXPECT_EQ(ReadBytes(dir / "Config.ini"), huge);
}

TEST(ProfileFile, WritesLeaveNoTemporaryFilesAndFailQuietly) {
    testing::TempDir dir;
    ProfileFile file(dir / "Config.ini");
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(file.Write("S", "k", std::to_string(i)));
    EXPECT_EQ(file.Read("S", "k"), "19");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    ProfileFile nowhere(dir / "missing-dir" / "Config.ini");
    EXPECT_FALSE(nowhere.Write("S", "k", "v"));
}

}  // namespace
}  // namespace tandrel
