// Synthesises the program's two alert sounds and writes them as WAV files:
//   alert_a.wav  the short new-group alert, repeated by the caller: a bright rising two-note chime,
//                mono, 48,582 samples (97,164 bytes of sample data, about 1.10 s);
//   alert_b.wav  the longer old-group alert, played once: a gentle three-note arpeggio,
//                stereo, 145,000 frames (580,000 bytes of sample data, about 3.29 s).
// Both are 16-bit PCM at 44,100 Hz, peak-normalised to -3 dBFS. The output is deterministic, so running
// the tool again reproduces the committed files byte for byte.
//
// Usage: make_alert_sounds <output directory>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPeak = 0.7079457843841379;  // -3 dBFS

struct Partial {
    double ratio;  // of the fundamental
    double gain;
};

struct Note {
    double start;  // seconds
    double frequency;
    double attack;  // seconds of raised-cosine fade-in: a soft onset, no click
    double decay;   // time constant of the exponential decay of the fundamental, seconds
    double left;
    double right;
};

// Interleaved float frames, one or two channels.
class Buffer {
  public:
    Buffer(int channels, int frames) : channels_(channels), samples_(std::size_t(channels) * frames, 0.0) {}

    int channels() const { return channels_; }
    int frames() const { return static_cast<int>(samples_.size() / channels_); }

    // Higher partials die away faster, as they do on a struck bar, which keeps the tail soft.
    void Add(const Note& note, const std::vector<Partial>& partials) {
        const int first = static_cast<int>(std::lround(note.start * kRate));
        for (int i = first; i < frames(); ++i) {
            const double t = double(i - first) / kRate;
            const double onset =
                t < note.attack ? 0.5 - 0.5 * std::cos(std::numbers::pi * t / note.attack) : 1.0;
            double value = 0.0;
            for (const Partial& p : partials) {
                const double decay = note.decay / std::pow(p.ratio, 0.7);
                value += p.gain * std::exp(-t / decay) *
                         std::sin(2.0 * std::numbers::pi * note.frequency * p.ratio * t);
            }
            value *= onset;
            if (channels_ == 1) {
                samples_[std::size_t(i)] += value * note.left;
            } else {
                samples_[std::size_t(i) * 2] += value * note.left;
                samples_[std::size_t(i) * 2 + 1] += value * note.right;
            }
        }
    }

    // A half-cosine fade over the last seconds, so the sound ends on silence rather than a step.
    void FadeOut(double seconds) {
        const int length = static_cast<int>(std::lround(seconds * kRate));
        for (int i = 0; i < length; ++i) {
            const double gain = 0.5 + 0.5 * std::cos(std::numbers::pi * (i + 1) / length);
            for (int c = 0; c < channels_; ++c) {
                samples_[std::size_t(frames() - length + i) * channels_ + c] *= gain;
            }
        }
    }

    std::vector<std::int16_t> ToPcm16() const {
        double peak = 0.0;
        for (double s : samples_)
            peak = std::max(peak, std::abs(s));
        const double scale = peak > 0.0 ? kPeak / peak : 0.0;
        std::vector<std::int16_t> pcm;
        pcm.reserve(samples_.size());
        for (double s : samples_) {
            const double v = std::clamp(std::round(s * scale * 32767.0), -32768.0, 32767.0);
            pcm.push_back(static_cast<std::int16_t>(v));
        }
        return pcm;
    }

  private:
    int channels_;
    std::vector<double> samples_;
};

void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The canonical 44-byte header: RIFF/WAVE, a 16-byte "fmt " chunk for integer PCM, then "data".
std::string WavImage(int channels, const std::vector<std::int16_t>& pcm) {
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    const auto blockAlign = static_cast<std::uint32_t>(channels * 2);
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    PutLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);  // integer PCM
    PutLe(out, static_cast<std::uint32_t>(channels), 2);
    PutLe(out, kRate, 4);
    PutLe(out, kRate * blockAlign, 4);
    PutLe(out, blockAlign, 2);
    PutLe(out, 16, 2);
    out += "data";
    PutLe(out, dataBytes, 4);
    for (std::int16_t s : pcm)
        PutLe(out, static_cast<std::uint16_t>(s), 2);
    return out;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make_alert_sounds: cannot write %s\n", path.string().c_str());
        return false;
    }
    std::printf("%s: %zu bytes\n", path.string().c_str(), bytes.size());
    return true;
}

// B5 then E6, a rising fourth: short and bright enough to cut through other noise when it repeats.
std::string AlertA() {
    Buffer buffer(1, 97164 / 2);
    const std::vector<Partial> bright{{1.0, 1.0}, {2.0, 0.35}, {3.0, 0.12}, {4.0, 0.05}};
    buffer.Add({0.00, 987.77, 0.006, 0.28, 1.0, 1.0}, bright);
    buffer.Add({0.17, 1318.51, 0.006, 0.30, 1.0, 1.0}, bright);
    buffer.FadeOut(0.08);
    return WavImage(1, buffer.ToPcm16());
}

// C5, E5, G5 rising slowly from left to right with long rings: calmer, for groups seen before.
std::string AlertB() {
    Buffer buffer(2, 580000 / 4);
    const std::vector<Partial> soft{{1.0, 1.0}, {2.0, 0.18}, {3.0, 0.05}};
    buffer.Add({0.00, 523.25, 0.025, 0.85, 1.00, 0.70}, soft);
    buffer.Add({0.30, 659.26, 0.025, 0.85, 0.85, 0.85}, soft);
    buffer.Add({0.60, 783.99, 0.025, 0.95, 0.70, 1.00}, soft);
    buffer.FadeOut(0.5);
    return WavImage(2, buffer.ToPcm16());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_alert_sounds <output directory>\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    const bool ok = WriteFile(dir / "alert_a.wav", AlertA()) && WriteFile(dir / "alert_b.wav", AlertB());
    return ok ? 0 : 1;
}
