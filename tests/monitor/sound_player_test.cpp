#include "monitor/sound_player.h"

#include <gtest/gtest.h>

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
#include "assets/assets.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

std::uint32_t Le(const QByteArray& bytes, qsizetype at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// "format channels rate bits dataBytes fileBytes" of a WAV resource, walking its chunks.
std::string WavSummary(const char* path) {
    InitAssets();
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) return "missing";
    const QByteArray wav = file.readAll();
    if (!wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") return "not a WAV";
    std::string fmt, data;
    for (qsizetype at = 12; at + 8 <= wav.size(); at += 8 + Le(wav, at + 4, 4)) {
        if (wav.mid(at, 4) == "fmt ") {
            fmt = std::to_string(Le(wav, at + 8, 2)) + " " + std::to_string(Le(wav, at + 10, 2)) + " " +
                  std::to_string(Le(wav, at + 12, 4)) + " " + std::to_string(Le(wav, at + 22, 2));
        } else if (wav.mid(at, 4) == "data") {
            data = std::to_string(Le(wav, at + 4, 4));
        }
    }
    return fmt + " " + data + " " + std::to_string(wav.size());
}

TEST(SoundResourcesTest, TheTwoAlertSoundsHaveTheirFormatsAndLengths) {
    // PCM (1), 1 or 2 channels, 44,100 Hz, 16 bits; then the sample data and the whole file.
    EXPECT_EQ(WavSummary(":/sounds/alert_a.wav"), "1 1 44100 16 97164 97208");
    EXPECT_EQ(WavSummary(":/sounds/alert_b.wav"), "1 2 44100 16 580000 580044");
}

// Each test sets the driver before its player's first Play; the player shuts SDL's audio down again when it
// goes, so the next one reads the environment afresh.

// The largest magnitude among the 16-bit little-endian samples written so far.
int LoudestSample(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    int loudest = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                      static_cast<std::uint8_t>(bytes[i + 1]) << 8);
        loudest = std::max(loudest, std::abs(int{sample}));
    }
    return loudest;
}

TEST(SdlSoundPlayerTest, PlayedSoundsReachTheOutput) {
    testing::TempDir dir;
    const std::string output = (dir / "mixed.raw").string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
    // Each sound peaks near -3 dBFS (about 23,000); the silence the device writes before and between stays 0.
    constexpr int kAudible = 10000;
    int loudest = 0;
    {
        SdlSoundPlayer player;
        player.Play(0);
        player.Play(1);
        // The disk driver mixes in real time, after whatever silence it wrote while the sounds were loading.
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             loudest <= kAudible && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(20ms);
            loudest = LoudestSample(output);
        }
    }
    EXPECT_GT(loudest, kAudible);
}

TEST(SdlSoundPlayerTest, WithoutADeviceItStaysSilentAndSaysSoOnce) {
    setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    {
        SdlSoundPlayer player;
        for (int i = 0; i < 3; ++i) {
            player.Play(0);
            player.Play(1);
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string message = "Tandrel: no sound device, alerts are silent (";
    ASSERT_NE(said.find(message), std::string::npos) << said;
    EXPECT_EQ(said.find(message, said.find(message) + 1), std::string::npos) << said;
    EXPECT_LT(elapsed, 5s);
}

}  // namespace
}  // namespace tandrel
