#pragma once
// The audio output of the alerts: plays one of the program's two alert sounds, asynchronously.

#include <mutex>
#include <string>

struct Mix_Chunk;

namespace tandrel {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Starts sound 0 (A, the new-group sound) or any other value (B, the old-group sound) once and returns at
    // once. A playback never cuts off one still sounding: they mix. Safe to call from any thread.
    virtual void Play(int which) = 0;
    // Why alerts cannot be heard (UTF-8), empty when they can. It may open the device to find out; any
    // thread.
    virtual std::string Unavailable() { return {}; }
};

// Plays the sounds carried in the program's resources through SDL2_mixer. The device is opened on the first
// Play, not at construction, so a program that never alerts never touches the audio system. Without a usable
// device it plays nothing, says so once on stderr (the sound library's own noise stays off the terminal), and
// every Play returns at once. One per process: the mixer is process-wide.
class SdlSoundPlayer final : public SoundPlayer {
  public:
    SdlSoundPlayer() = default;
    ~SdlSoundPlayer() override;
    SdlSoundPlayer(const SdlSoundPlayer&) = delete;
    SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

    void Play(int which) override;
    std::string Unavailable() override;

  private:
    enum class State { Closed, Open, Failed };

    bool OpenLocked();
    void CloseLocked();

    std::mutex mutex_;
    State state_ = State::Closed;
    Mix_Chunk* sounds_[2] = {nullptr, nullptr};
    int channels_ = 0;
    std::string failure_;  // why the device did not open
};

}  // namespace tandrel
